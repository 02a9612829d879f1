# The front door. CMake does the building (the trees are named once, in
# CMakePresets.json, the program's flags in cmake/windows-program.cmake);
# this file installs what is missing, configures each tree once and runs
# the tests.
#   make        installs what is missing and builds the Windows trees:
#               build/windows/kompakto.exe and the tests' Windows programs
#   make run    builds it and shows its question under Wine, in German,
#               as Wine draws it
#   make test   every test: the unit tests (also under ASan and UBSan), the
#               fuzz corpus, the resource checks, the reproducibility check,
#               the end-to-end tests under Wine and the check of the release
#   make release  dist/kompakto-VERSION.zip, what a Windows user downloads
PYTHON := /usr/bin/python3

.PHONY: all deps windows linux checked run test unit sanitize fuzz fuzz-corpus resources repro e2e \
        release release-check lint screenshots bench icon faults clean

all: windows

deps:
	@sh tools/install-deps.sh

# A tree is configured once; later builds let CMake notice changes itself.
build/%/CMakeCache.txt:
	cmake --preset $* >/dev/null

# The Windows tree, the 64-bit builds of the end-to-end helpers, and the tests
# of the Windows operations themselves.
windows: deps build/windows/CMakeCache.txt build/windows-x64/CMakeCache.txt build/windows-layer/CMakeCache.txt
	cmake --build --preset windows
	cmake --build --preset windows-x64
	cmake --build --preset windows-layer

linux checked: %: deps build/%/CMakeCache.txt
	cmake --build --preset $*

run: windows
	$(PYTHON) tools/run.py

test: unit sanitize fuzz-corpus resources repro e2e release-check

unit: linux
	ctest --preset linux

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: checked
	ctest --preset checked

# Each fuzz target once over its committed corpus; `make fuzz` runs each for 30 s.
fuzz-corpus: checked
	sh tests/fuzz/run.sh corpus

fuzz: checked
	sh tests/fuzz/run.sh fuzz 30

resources: windows
	$(PYTHON) tests/resources/check_resources.py build/windows/kompakto.exe

# Builds HEAD twice in two folders and compares the executables.
repro: deps
	sh tools/repro.sh

# First the emulator's decision, on canned binfmt_misc handlers and apt
# sources (tests/e2e/machine_test.py), and the install on a mirror out of
# step, against stand-ins for apt (tests/e2e/install_test.py); then the cases
# under Wine.
e2e: windows
	$(PYTHON) -m unittest discover -s tests/e2e -p '*_test.py'
	$(PYTHON) tests/e2e/e2e.py build/windows

# Each planted fault of tests/faults.txt alone, in a copy of the tree under
# build/faults, against only the tests its row names: a row is "caught" when
# they all fail; the last line counts caught and escaped rows, and an escape
# fails the target. Not part of `make test`; FAULTS="--only=unit" runs the
# unit rows alone (tools/faults.py says more). The Wine rows take the helpers
# of this tree's Windows builds.
faults: deps build/windows/CMakeCache.txt build/windows-x64/CMakeCache.txt
	cmake --build --preset windows
	cmake --build --preset windows-x64
	$(PYTHON) tools/faults.py $(FAULTS)

# The zip, its checksums and the German guide; kompakto.exe is signed when
# KOMPAKTO_SIGN_PFX and KOMPAKTO_SIGN_PASSWORD_FILE are set (tools/release.py).
release: windows
	$(PYTHON) tools/release.py

# Two releases and a signed one, checked (tests/release/check_release.py).
release-check: windows
	$(PYTHON) tests/release/check_release.py

lint: deps linux
	sh tools/lint.sh

# The pictures of the README, taken under Wine.
screenshots: windows
	$(PYTHON) tools/screenshots.py

# Size, imported DLLs and time to the question under Wine.
bench: windows
	$(PYTHON) tools/bench.py

# Draws the icon images anew from res/make_icon.py (they are committed).
icon:
	$(PYTHON) res/make_icon.py

clean:
	rm -rf build dist
