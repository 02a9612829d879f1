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
build="$root/build/windows"
program="$build/kompakto.exe"
driver="$build/e2e-driver.exe"

if [ ! -f "$program" ]; then
    echo "run.sh: $program is missing; run make first" >&2
    exit 1
fi

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${WINEPREFIX:-$root/build/run-prefix}"

display_reachable() {
    [ -n "${DISPLAY:-}" ] || return 1
    if command -v xdotool >/dev/null 2>&1; then
        timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1
    else
        number=${DISPLAY#*:}
        [ -S "/tmp/.X11-unix/X${number%%.*}" ]
    fi
}

# A path of this machine as Wine's drive Z: shows it.
windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}

make_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix $WINEPREFIX (once; about half a minute)"
        mkdir -p "$WINEPREFIX"
        if ! timeout 300 wineboot -i >"$root/build/run-wineboot.log" 2>&1; then
            echo "run.sh: wineboot failed; see build/run-wineboot.log" >&2
            return 1
        fi
        timeout 60 wineserver -w
    fi
    return 0
}

if display_reachable; then
    make_prefix || exit 1
    echo "Starting kompakto.exe on $DISPLAY; answer its question there."
    wine "$program"
    code=$?
    echo "kompakto.exe ended with exit code $code"
    exit 0
fi

# No screen: a virtual one, watched from outside.
if [ ! -f "$driver" ]; then
    echo "run.sh: $driver is missing; run make first" >&2
    exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/kompakto-run.XXXXXX") || exit 1
xvfb_pid=""
driver_pid=""
cleanup() {
    [ -n "$driver_pid" ] && kill -9 "$driver_pid" 2>/dev/null
    timeout 30 wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill -9 "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Xvfb picks a free display itself and writes its number to file descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
waited=0
while ! grep -q '[0-9]' "$work/display" 2>/dev/null; do
    if [ "$waited" -ge 100 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "run.sh: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
done
DISPLAY=":$(tr -dc 0-9 <"$work/display")"
export DISPLAY
echo "No display: using a virtual screen on $DISPLAY"

make_prefix || exit 1

# The driver starts the program, waits for the question, holds it until the
# screenshot is taken, then answers Cancel.
go="$work/go"
tab=$(printf '\t')
app=$(windows_path "$program")
{
    printf 'case%srun\n' "$tab"
    printf 'start%s%s%s"%s"%s\n' "$tab" "$app" "$tab" "$app" "$tab"
    printf 'box%sKompakto 1.1.0.0%s60000%shold\n' "$tab" "$tab" "$tab"
    printf 'wait_file%s%s%s30000\n' "$tab" "$(windows_path "$go")" "$tab"
    printf 'box%sKompakto 1.1.0.0%s5000%scancel\n' "$tab" "$tab" "$tab"
    printf 'finish%s15000\n' "$tab"
} | sed 's/\\/\\\\/g' >"$work/script.txt"
transcript="$work/transcript.txt"
timeout 180 wine "$driver" "$(windows_path "$work/script.txt")" "$(windows_path "$transcript")" \
    </dev/null >"$work/driver.log" 2>&1 &
driver_pid=$!

waited=0
until grep -q '"action":"hold"' "$transcript" 2>/dev/null; do
    if [ "$waited" -ge 900 ] || ! kill -0 "$driver_pid" 2>/dev/null; then
        echo "run.sh: the question did not show" >&2
        cat "$transcript" 2>/dev/null >&2
        exit 1
    fi
    sleep 0.2
    waited=$((waited + 1))
done

shot="$root/build/question.png"
if ! timeout 30 import -window root "$shot"; then
    echo "run.sh: the screenshot failed" >&2
fi
touch "$go"
waited=0
while kill -0 "$driver_pid" 2>/dev/null; do
    if [ "$waited" -ge 300 ]; then
        echo "run.sh: the driver did not end" >&2
        exit 1
    fi
    sleep 0.2
    waited=$((waited + 1))
done
driver_pid=""
if grep -q '"reason":"ended","code":0' "$transcript"; then
    echo "Answered Cancel; kompakto.exe ended with exit code 0."
else
    echo "run.sh: kompakto.exe did not end as expected:" >&2
    cat "$transcript" >&2
    exit 1
fi
echo "$shot"
exit 0
