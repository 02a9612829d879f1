# The front door. CMake does the building (the trees are named once, in
# CMakePresets.json, and read from there; the program's flags are in
# cmake/windows-program.cmake); this file installs what is missing, builds
# the trees a target needs and has CTest run the groups of checks
# (tests/groups.cmake).
#   make        installs what is missing and builds the Windows trees:
#               kompakto.exe and the tests' Windows programs
#   make run    builds it and shows its question under Wine, in German,
#               as Wine draws it
#   make test   every group of checks, in order: unit, sanitize,
#               fuzz-corpus, resources, repro, tools, e2e, windows-layer,
#               release; `make groups` lists them, `make GROUP` runs one
#               (the release group: make release-check)
#   make release  dist/kompakto-VERSION.zip, what a Windows user downloads
PYTHON := /usr/bin/python3
CTEST := ctest --preset test

.PHONY: all deps windows linux checked run test groups unit sanitize fuzz fuzz-corpus resources repro tools e2e \
        windows-layer release release-check lint screenshots bench icon faults clean

all: windows

deps:
	@sh tools/install-deps.sh

# Each tree named is configured once; later builds let CMake notice changes
# itself. Then each is built with the jobs its build preset sets, whether or
# not make runs other trees beside it.
build = for tree in $(1); do \
	    test -f "$$($(PYTHON) tools/trees.py $$tree)/CMakeCache.txt" || cmake --preset $$tree >/dev/null || exit 1; \
	    MAKEFLAGS= cmake --build --preset $$tree || exit 1; \
	done

# The Windows tree, the 64-bit builds of the end-to-end helpers, and the tests
# of the Windows operations themselves.
windows: deps
	@$(call build,windows windows-x64 windows-layer)

# The unit tests, and the registry of the groups of checks.
linux: deps
	@$(call build,linux)

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the fuzz targets.
checked: deps
	@$(call build,checked)

run: windows
	$(PYTHON) tools/run.py

# The trees are built two at a time: a tree's own build leaves a core idle
# now and then. Each one's output stands together.
test: deps
	@$(MAKE) --no-print-directory -j2 --output-sync=target windows linux checked
	$(CTEST)

groups: linux
	$(CTEST) -N

unit: linux
	$(CTEST) -L '^unit$$'

sanitize fuzz-corpus: %: checked linux
	$(CTEST) -L '^$*$$'

resources e2e windows-layer: %: windows linux
	$(CTEST) -L '^$*$$'

# repro builds HEAD twice in two folders and compares the executables; tools
# holds the tools' own tests.
repro tools: %: linux
	$(CTEST) -L '^$*$$'

# Each fuzz target for 30 s, from its corpus (tests/fuzz/run.sh).
fuzz: checked
	sh tests/fuzz/run.sh fuzz 30

# Each planted fault of tests/faults.txt alone, in a copy of the tree under
# build/faults, against only the tests its row names: a row is "caught" when
# they all fail; the last line counts caught and escaped rows, and an escape
# fails the target. Not part of `make test`; FAULTS="--only=unit" runs the
# unit rows alone (tools/faults.py says more).
faults: deps
	$(PYTHON) tools/faults.py $(FAULTS)

# The zip, its checksums and the German guide; kompakto.exe is signed when
# KOMPAKTO_SIGN_PFX and KOMPAKTO_SIGN_PASSWORD_FILE are set (tools/release.py).
release: windows
	$(PYTHON) tools/release.py

# Two releases and a signed one, checked (tests/release/check_release.py).
release-check: windows linux
	$(CTEST) -L '^release$$'

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
