# The front door. CMake does the building; this file installs what is missing,
# picks the two build trees and runs the tests.
#   make        builds build/windows/kompakto.exe
#   make run    builds and starts it under Wine
#   make test   builds both trees and runs every test: unit tests (also under ASan
#               and UBSan), the fuzz corpus, the resource checks, the end-to-end
#               tests under Wine and the reproducibility check
PYTHON := /usr/bin/python3

.PHONY: all run test deps windows linux unit resources e2e lint screenshots icon clean

all: windows

deps:
	@sh tools/install-deps.sh

windows: deps
	cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/windows -j2

linux: deps
	cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build/linux -j2

run: windows
	sh tools/run.sh

unit: linux
	cd build/linux && ctest --output-on-failure

resources: windows
	$(PYTHON) tests/resources/check_resources.py build/windows/kompakto.exe
	$(PYTHON) tests/resources/check_catches_faults.py build/windows/kompakto.exe

e2e: windows
	$(PYTHON) tests/e2e/e2e.py build/windows

test: unit sanitize fuzz-corpus resources repro e2e

lint: deps
	sh tools/lint.sh

screenshots: windows
	sh tools/screenshots.sh

# Draws the icon images anew from res/make_icon.py (they are committed).
icon:
	$(PYTHON) res/make_icon.py

clean:
	rm -rf build

# Checks of their own, each in its own tree or temporary folder.
#   make fuzz         each fuzz target for 30 s from its corpus (build/fuzz)
#   make fuzz-corpus  each fuzz target once over its committed corpus
#   make sanitize     the unit tests under ASan and UBSan (build/asan)
#   make repro        builds HEAD twice in two folders and compares the .exe
#   make bench        size, imported DLLs and time to the question under Wine
.PHONY: fuzz fuzz-corpus sanitize repro bench

fuzz: deps
	sh tests/fuzz/run.sh fuzz 30

fuzz-corpus: deps
	sh tests/fuzz/run.sh corpus

sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B build/asan -DKOMPAKTO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build/asan -j2
	cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure

repro: deps
	sh tools/repro.sh

bench: windows
	sh tools/bench.sh
