#!/bin/sh
# The program's footprint: the size of kompakto.exe, the DLLs it imports, and
# how long it takes under Wine from the process's start until the question
# box is there, against a program that only shows one message box
# (tests/bench/minimal.cpp), built with the same compiler and options.
#
# Both are timed side by side in one run, ROUNDS rounds (default 101) after a
# warm-up, by bench-launch.exe inside the prefix (tests/bench/launch.c); the
# medians are compared. Budgets: at most 32 KiB, at most 1.10 times the
# yardstick's time. Exits non-zero when a budget is exceeded or the timing
# fails. Expects `make windows` to have built build/windows/kompakto.exe.
#
# Why so many rounds: under Wine a start takes 70 to 150 ms, most of it
# before the program's first instruction, spread evenly over that range. The
# median of 7 rounds then lands more than 10 % off now and then; 101 rounds
# keep the ratio within about 2 %, in some 30 s. The question box itself, with
# its icon and sixteen lines, costs kompakto.exe a few per cent over the
# yardstick's one-word box.
#
# Wine runs on a virtual screen of its own (Xvfb on a free display) and in the
# prefix build/bench/prefix; both are shut down at the end, whatever happens.
set -u
cd "$(dirname "$0")/.."
top=$(pwd)
rounds=${ROUNDS:-101}
size_budget=32768
ratio_budget=1.10
exe=build/windows/kompakto.exe
out=build/bench
caption="Kompakto 1.1.0.0"
yardstick_caption="Kompakto bench"

[ -f $exe ] || { echo "no $exe: run make windows first" >&2; exit 1; }
mkdir -p $out

echo "== size and imports of $exe"
size=$(wc -c <$exe)
dlls=$(i686-w64-mingw32-objdump -p $exe | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
echo "size: $size bytes ($(awk "BEGIN { printf \"%.1f\", $size / 1024 }") KiB), budget $size_budget bytes"
echo "imports: $dlls"
[ "$size" -le $size_budget ] || echo "OVER BUDGET: size $size > $size_budget bytes"

echo "== building the yardstick and the launcher"
cmake -S tests/bench -B $out/programs -DCMAKE_TOOLCHAIN_FILE=$top/cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
cmake --build $out/programs >/dev/null || exit 1
run=$out/run
rm -rf $run && mkdir -p $run
cp $exe $run/kompakto.exe
cp $out/programs/bench-minimal.exe $out/programs/bench-launch.exe $run/
echo "yardstick size: $(wc -c <$run/bench-minimal.exe) bytes;" \
    "imports: $(i686-w64-mingw32-objdump -p $run/bench-minimal.exe | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"

export WINEPREFIX=$top/$out/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
cleanup() {
    timeout 20 wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display nobody uses: no lock file, no socket, and our Xvfb stays up on it.
for n in $(seq 120 160); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >$out/xvfb.log 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -e /tmp/.X11-unix/X$n ] && break
        sleep 0.1
    done
    if [ -e /tmp/.X11-unix/X$n ] && kill -0 $xvfb_pid 2>/dev/null; then
        export DISPLAY=:$n
        break
    fi
    kill $xvfb_pid 2>/dev/null
    xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "no free display for Xvfb" >&2; exit 1; }

if [ ! -f $WINEPREFIX/system.reg ]; then
    echo "== making the Wine prefix $out/prefix (once)"
    timeout 180 wineboot -i >$out/wineboot.log 2>&1 || { echo "wineboot failed, see $out/wineboot.log" >&2; exit 1; }
fi
# With no window manager on the virtual screen, Wine waits 2 s for one each
# time a window it hands to the manager is hidden, so closing a box would
# take 2 s. Unmanaged windows close at once and leave time for more rounds.
if ! grep -q '"Managed"="N"' $WINEPREFIX/user.reg 2>/dev/null; then
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
timeout 60 wineserver -w

echo "== timing $rounds rounds (and a warm-up) on $DISPLAY"
(cd $run && timeout $((120 + rounds * 10)) wine bench-launch.exe "$rounds" "$caption" kompakto.exe \
    "$yardstick_caption" bench-minimal.exe >times.txt 2>launch.log)
launched=$?
tr -d '\r' <$run/times.txt >$run/times
if [ $launched -ne 0 ] || grep -q '^fail' $run/times; then
    echo "timing failed (exit $launched):" >&2
    cat $run/times $run/launch.log >&2
    exit 1
fi

# Median of each program's rounds (the warm-up, round 0, left out), ratio.
awk -v rounds="$rounds" -v budget="$ratio_budget" -v size="$size" -v size_budget="$size_budget" '
    function median(list, n,    i, j, t, a) {
        split(list, a, " ")
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    function low(list,    a, n, i, v) { n = split(list, a, " "); v = a[1]; for (i = 2; i <= n; i++) if (a[i] < v) v = a[i]; return v }
    function high(list,    a, n, i, v) { n = split(list, a, " "); v = a[1]; for (i = 2; i <= n; i++) if (a[i] > v) v = a[i]; return v }
    $1 == "time" && $2 > 0 { times[$3] = times[$3] " " $4; count[$3]++; if ($5 != 0) bad_exit[$3] = $5 }
    END {
        if (count[0] != rounds || count[1] != rounds) { print "missing rounds"; exit 1 }
        k = median(times[0], rounds); m = median(times[1], rounds)
        printf "kompakto.exe  start to question: median %6.1f ms (%.1f to %.1f)\n", k / 1000, low(times[0]) / 1000, high(times[0]) / 1000
        printf "yardstick     start to its box:  median %6.1f ms (%.1f to %.1f)\n", m / 1000, low(times[1]) / 1000, high(times[1]) / 1000
        ratio = k / m
        printf "ratio of the medians: %.3f (budget %.2f), %d rounds each; every time in %s\n", ratio, budget, rounds, FILENAME
        status = 0
        if (0 in bad_exit) { print "kompakto.exe ended with exit code " bad_exit[0] " after Cancel, expected 0"; status = 1 }
        if (ratio > budget) { print "OVER BUDGET: start-up ratio " sprintf("%.3f", ratio) " > " budget; status = 1 }
        if (size > size_budget) status = 1
        if (!status) print "within budget: size and start-up time"
        exit status
    }' $run/times
