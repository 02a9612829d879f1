#!/bin/sh
# Is kompakto.exe reproducible? Clones the repository's HEAD (or the commit
# given) twice, into two temporary folders of different names and depths,
# builds build/windows/kompakto.exe in each the way `make windows` does (the
# second one at a later time, in another time zone and locale), and checks:
#   - the two executables are the same byte for byte;
#   - the image carries no time stamp: the file header, and the export and
#     resource directories and the debug entries where present, say 0;
#   - no text in the image names the folder it was built in.
# Exits non-zero when any check fails; the two trees are removed either way.
set -eu
top=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
rev=${1:-HEAD}
work=$(mktemp -d "${TMPDIR:-/tmp}/kompakto-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
first=$work/one
second=$work/second-tree/somewhat/deeper/two

build() {  # folder, then environment settings for the build
    dir=$1
    shift
    git clone -q --no-local "$top" "$dir"
    git -C "$dir" checkout -q --detach "$rev"
    (cd "$dir" && env "$@" cmake --preset windows >/dev/null &&
        env "$@" cmake --build --preset windows --target kompakto >/dev/null)
}

echo "building $(git -C "$top" rev-parse --short "$rev") in $first"
build "$first" TZ=UTC LC_ALL=C
sleep 2
echo "building it again in $second"
build "$second" TZ=Pacific/Kiritimati LC_ALL=C.UTF-8

a=$first/build/windows/kompakto.exe
b=$second/build/windows/kompakto.exe
status=0

if cmp "$a" "$b"; then
    echo "same bytes: yes ($(wc -c <"$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16)...)"
else
    status=1
    echo "same bytes: NO; differing bytes (offset, first, second):"
    cmp -l "$a" "$b" | head -20
    echo "sections of the first and the second:"
    i686-w64-mingw32-objdump -h "$a" | sed -n '/Idx/,$p' >"$work/h1"
    i686-w64-mingw32-objdump -h "$b" | sed -n '/Idx/,$p' >"$work/h2"
    diff "$work/h1" "$work/h2" || true
fi

# The time stamps a PE image can carry, read with pefile.
/usr/bin/python3 - "$a" "$b" <<'PY' || status=1
import sys
import pefile

def stamps(path):
    pe = pefile.PE(path)
    found = {"file header": pe.FILE_HEADER.TimeDateStamp}
    for name, attribute in (("export directory", "DIRECTORY_ENTRY_EXPORT"),
                            ("resource directory", "DIRECTORY_ENTRY_RESOURCE")):
        if hasattr(pe, attribute):
            found[name] = getattr(pe, attribute).struct.TimeDateStamp
    for k, entry in enumerate(getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])):
        found["debug entry %d" % k] = entry.struct.TimeDateStamp
    return found

bad = [(name, path, value) for path in sys.argv[1:] for name, value in stamps(path).items() if value != 0]
for name, path, value in bad:
    print("time stamp: %s of %s is 0x%08X" % (name, path, value))
if not bad:
    print("time stamps: none (%s)" % ", ".join("%s 0" % n for n in stamps(sys.argv[1])))
sys.exit(1 if bad else 0)
PY
i686-w64-mingw32-objdump -p "$a" | grep -m1 'Time/Date' | sed 's/^/objdump: /'

for exe in "$a" "$b"; do
    hits=$(strings -a "$exe" | grep -F -e "$(basename "$work")" -e "$work" -e "$top" || true)
    if [ -n "$hits" ]; then
        status=1
        echo "build paths in $exe:"
        echo "$hits" | head -10
    fi
done
[ $status -eq 0 ] && echo "build paths: none"

if [ $status -eq 0 ]; then echo "reproducible: yes"; else echo "reproducible: NO"; fi
exit $status
