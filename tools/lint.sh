#!/bin/sh
# The lint of `make lint` (which builds the Linux tree first, for its compile
# commands): clang-format over every C and C++ source, clang-tidy and
# cppcheck over the program's, shellcheck over the shell scripts and pyflakes
# over the Python ones. Fails on any finding.
# shellcheck disable=SC2046  # the files of git ls-files, one word each
set -eu
cd "$(dirname "$0")/.."

echo "clang-format"
clang-format --dry-run --Werror $(git ls-files '*.c' '*.cpp' '*.h')

echo "clang-tidy (Linux side)"
clang-tidy --quiet -p "$(/usr/bin/python3 tools/trees.py linux)" $(git ls-files 'src/app/*.cpp' 'src/shell/*.cpp' 'tests/fake/*.cpp') 2>/dev/null
echo "clang-tidy (Windows side)"
clang-tidy --quiet $(git ls-files 'src/platform/win/*.cpp') -- --target=i686-w64-mingw32 -std=c++17 -Isrc \
    -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN 2>/dev/null

echo "cppcheck"
cppcheck --quiet --error-exitcode=1 --inline-suppr --std=c++17 --enable=warning,style,performance,portability \
    --suppress=unusedStructMember -Isrc -Itests src/app src/shell tests/fake
cppcheck --quiet --error-exitcode=1 --inline-suppr --std=c++17 --enable=warning,style,performance,portability \
    --library=windows --platform=win32W -Isrc src/platform/win

echo "shellcheck"
shellcheck $(git ls-files '*.sh' .ci/run)

echo "pyflakes"
/usr/bin/python3 -m pyflakes $(git ls-files '*.py')
echo "lint clean"
