#!/bin/sh
# Is kompakto.exe reproducible? Clones the repository's HEAD (or the commit
# given) twice, into two temporary folders of different names and depths,
# builds kompakto.exe in the windows tree of each the way `make windows` does
# (the second one at a later time, in another time zone and locale), and
# checks that the two are the same bytes, that the image carries no time
# stamp (the file header, the export and resource directories and the debug
# entries say 0), and that no text in it names the folder it was built in:
# each check a line PASS NAME or FAIL NAME.
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

a=$(/usr/bin/python3 "$first/tools/trees.py" windows)/kompakto.exe
b=$(/usr/bin/python3 "$second/tools/trees.py" windows)/kompakto.exe
status=0

if cmp "$a" "$b"; then
    echo "PASS the same bytes from both folders"
    echo "     $(wc -c <"$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16)..."
else
    status=1
    echo "FAIL the same bytes from both folders"
    echo "     differing bytes (offset, first, second):"
    cmp -l "$a" "$b" | head -20 | sed 's/^/     /'
fi

/usr/bin/python3 - "$a" "$b" <<'PY' || status=1
import sys
import pefile

checked, bad = 0, []
for path in sys.argv[1:]:
    pe = pefile.PE(path)
    stamps = {"file header": pe.FILE_HEADER.TimeDateStamp}
    for name in ("EXPORT", "RESOURCE"):
        if hasattr(pe, "DIRECTORY_ENTRY_" + name):
            stamps[name.lower() + " directory"] = getattr(pe, "DIRECTORY_ENTRY_" + name).struct.TimeDateStamp
    for k, entry in enumerate(getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])):
        stamps["debug entry %d" % k] = entry.struct.TimeDateStamp
    checked += len(stamps)
    for name, value in stamps.items():
        if value:
            bad.append("     time stamp: %s of %s is 0x%08X" % (name, path, value))
print("%s no time stamp in the image\n     %d of %d not 0" % ("FAIL" if bad else "PASS", len(bad), checked))
if bad:
    print("\n".join(bad))
sys.exit(1 if bad else 0)
PY

paths=""
for exe in "$a" "$b"; do
    paths=$paths$(strings -a "$exe" | grep -F -e "$(basename "$work")" -e "$work" -e "$top" | sed 's/^/     /')
done
if [ -z "$paths" ]; then
    echo "PASS no folder it was built in named in the image"
else
    status=1
    echo "FAIL no folder it was built in named in the image"
    echo "$paths"
fi
exit $status
