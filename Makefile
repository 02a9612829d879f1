# The front door: make (build), make run, make test. CMake does the building.
.PHONY: all run test deps windows linux clean

all: windows

deps:
	@sh tools/install-deps.sh

windows:
	cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/windows -j2

linux:
	cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build/linux -j2

clean:
	rm -rf build
