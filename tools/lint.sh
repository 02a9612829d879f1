#!/bin/sh
# clang-tidy and cppcheck over the program's sources, and the formatting check.
# Fails on any finding.
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build/linux -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
sources=$(git ls-files 'src/*.cpp' 'tests/unit/*.cpp')
headers=$(git ls-files 'src/*.h' 'tests/unit/*.h')

echo "clang-format"
clang-format --dry-run --Werror $sources $headers

echo "clang-tidy (Linux side)"
clang-tidy --quiet -p build/linux $(git ls-files 'src/app/*.cpp' 'src/shell/*.cpp' 'src/platform/fake/*.cpp') 2>/dev/null
echo "clang-tidy (Windows side)"
clang-tidy --quiet $(git ls-files 'src/platform/win/*.cpp') -- --target=i686-w64-mingw32 -std=c++17 -Isrc \
    -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN 2>/dev/null

echo "cppcheck"
cppcheck --quiet --error-exitcode=1 --inline-suppr --std=c++17 --enable=warning,style,performance,portability \
    --suppress=unusedStructMember -Isrc src/app src/shell src/platform/fake
cppcheck --quiet --error-exitcode=1 --inline-suppr --std=c++17 --enable=warning,style,performance,portability \
    --library=windows --platform=win32W -Isrc src/platform/win
echo "lint clean"
