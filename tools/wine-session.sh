# Shared by run.sh and screenshots.sh: a virtual screen, a Wine prefix and the
# end-to-end driver, every wait with a time-out. Source it after setting
# root (the repository) and work (a scratch folder that cleanup removes).

build="$root/build/windows"
program="$build/kompakto.exe"
driver="$build/e2e-driver.exe"
tab=$(printf '\t')
xvfb_pid=""
driver_pid=""

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
    [ -n "$driver_pid" ] && kill -9 "$driver_pid" 2>/dev/null
    timeout 30 wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill -9 "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}

require_build() {
    for file in "$program" "$driver"; do
        if [ ! -f "$file" ]; then
            echo "$file is missing; run make first" >&2
            exit 1
        fi
    done
}

# A path of this machine as Wine's drive Z: shows it.
windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}

# Makes $WINEPREFIX once.
make_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix $WINEPREFIX (once; about half a minute)"
        mkdir -p "$WINEPREFIX"
        if ! timeout 300 wineboot -i >"$root/build/wineboot.log" 2>&1; then
            echo "wineboot failed; see build/wineboot.log" >&2
            return 1
        fi
        timeout 60 wineserver -w
    fi
    return 0
}

# Starts Xvfb on a display it picks itself and exports DISPLAY.
start_virtual_screen() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    waited=0
    while ! grep -q '[0-9]' "$work/display" 2>/dev/null; do
        if [ "$waited" -ge 100 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "Xvfb did not start" >&2
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    DISPLAY=":$(tr -dc 0-9 <"$work/display")"
    export DISPLAY
}

# Runs the driver on a script (read from standard input) in the background;
# the transcript grows in $work/transcript.txt. Any further arguments come
# before the driver, e.g. "explorer /desktop=NAME,SIZE".
start_driver() {
    sed 's/\\/\\\\/g' >"$work/script.txt"
    : >"$work/transcript.txt"
    timeout 300 wine "$@" "$driver" "$(windows_path "$work/script.txt")" \
        "$(windows_path "$work/transcript.txt")" </dev/null >"$work/driver.log" 2>&1 &
    driver_pid=$!
}

# Waits until the transcript holds a line matching pattern at least count times.
wait_transcript() {
    pattern=$1
    count=$2
    waited=0
    until [ "$(grep -c "$pattern" "$work/transcript.txt" 2>/dev/null)" -ge "$count" ]; do
        if [ "$waited" -ge 900 ] || ! kill -0 "$driver_pid" 2>/dev/null; then
            echo "the program did not get as far as expected; what the driver saw:" >&2
            cat "$work/transcript.txt" >&2
            return 1
        fi
        sleep 0.2
        waited=$((waited + 1))
    done
}

wait_driver() {
    waited=0
    while kill -0 "$driver_pid" 2>/dev/null; do
        if [ "$waited" -ge 300 ]; then
            echo "the driver did not end" >&2
            return 1
        fi
        sleep 0.2
        waited=$((waited + 1))
    done
    driver_pid=""
}
