#!/bin/sh
# Runs the fuzz targets that `make checked` builds in the checked tree
# (clang, libFuzzer, ASan, UBSan), each told as a line PASS TARGET or FAIL
# TARGET.
#   run.sh corpus          each target once over its committed corpus, no
#                          mutation: a regression test
#   run.sh fuzz [SECONDS]  each target for SECONDS (default 30), starting from
#                          its corpus; new inputs are kept in
#                          found/<target> of the checked tree, failing ones in
#                          its crashes/ (add them to the corpus once
#                          the fault is fixed; make_seeds.py writes the seeds)
# Exits non-zero when a target finds a failing input.
set -eu
cd "$(dirname "$0")/../.."
mode=${1:-corpus}
seconds=${2:-30}
build=$(/usr/bin/python3 tools/trees.py checked)
mkdir -p "$build/crashes" "$build/logs"

# Command lines are cut at 32767 characters after the control byte; a little
# more lets the seeds that go beyond the cut reach the target whole.
max_len() { if [ "$1" = command_line_fuzzer ]; then echo 32800; else echo 9000; fi; }

status=0
for target in command_line_fuzzer environment_fuzzer; do
    corpus=tests/fuzz/corpus/$target
    log=$build/logs/$target.$mode.log
    files=$(find "$corpus" -type f | wc -l)
    case $mode in
    corpus) options="-runs=0" ;;
    fuzz)
        mkdir -p "$build/found/$target"
        options="-max_total_time=$seconds -timeout=10 -artifact_prefix=$build/crashes/$target- $build/found/$target"
        ;;
    *)
        echo "usage: $0 corpus | fuzz [SECONDS]" >&2
        exit 2
        ;;
    esac
    result=0
    # shellcheck disable=SC2086  # options are several words
    "$build/tests/fuzz/$target" $options -max_len="$(max_len $target)" -print_final_stats=1 "$corpus" \
        >"$log" 2>&1 || result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -E '(DONE|INITED) +cov' "$log" | tail -1 | sed -E 's/^#[0-9]+[[:space:]]+[A-Z]+ +//')
    if [ $result -eq 0 ]; then
        echo "PASS $target ($mode)"
        echo "     ${runs:-?} runs, corpus $files files; $coverage"
    else
        status=1
        echo "FAIL $target ($mode)"
        echo "     exit $result, see $log"
        grep -E 'check failed|ERROR: AddressSanitizer|runtime error|^ +[A-Za-z]|Test unit written' "$log" | head -20 |
            sed 's/^/     /'
    fi
done
exit $status
