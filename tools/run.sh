#!/bin/sh
# Starts build/windows/kompakto.exe under Wine so that its question shows.
#
# With a reachable $DISPLAY it runs there and waits for you to answer.
# Without one it starts a virtual screen, waits for the question, saves a
# screenshot to build/question.png, answers Cancel (nothing changes), prints
# the screenshot's path and ends; every wait there has a time-out.
#
# The Wine prefix is $WINEPREFIX when set, otherwise build/run-prefix, made
# on first use.
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kompakto-run.XXXXXX") || exit 1
. "$root/tools/wine-session.sh"
export WINEPREFIX="${WINEPREFIX:-$root/build/run-prefix}"
require_build

display_reachable() {
    [ -n "${DISPLAY:-}" ] && timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1
}

if display_reachable; then
    rm -rf "$work"
    make_prefix || exit 1
    echo "Starting kompakto.exe on $DISPLAY; answer its question there."
    wine "$program"
    echo "kompakto.exe ended with exit code $?"
    exit 0
fi

trap cleanup EXIT
trap 'exit 1' INT TERM HUP
start_virtual_screen || exit 1
echo "No display: using a virtual screen on $DISPLAY"
make_prefix || exit 1

# The driver holds the question until the screenshot is taken, then answers Cancel.
app=$(windows_path "$program")
start_driver <<SCRIPT
case${tab}run
start${tab}${app}${tab}"${app}"${tab}
box${tab}Kompakto 1.1.0.0${tab}60000${tab}hold
wait_file${tab}$(windows_path "$work/go")${tab}30000
box${tab}Kompakto 1.1.0.0${tab}5000${tab}cancel
finish${tab}15000
SCRIPT
wait_transcript '"action":"hold"' 1 || exit 1
shot="$root/build/question.png"
timeout 30 import -window root "$shot" || echo "the screenshot failed" >&2
touch "$work/go"
wait_driver || exit 1
if ! grep -q '"reason":"ended","code":0' "$work/transcript.txt"; then
    echo "kompakto.exe did not end as expected:" >&2
    cat "$work/transcript.txt" >&2
    exit 1
fi
echo "Answered Cancel; kompakto.exe ended with exit code 0."
echo "$shot"
