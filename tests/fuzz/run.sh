#!/bin/sh
# Builds the fuzz targets in build/fuzz (clang, libFuzzer, ASan, UBSan) and
# runs them.
#   run.sh corpus          each target once over its committed corpus, no
#                          mutation: a regression test
#   run.sh fuzz [SECONDS]  each target for SECONDS (default 30), starting from
#                          its corpus; new inputs are kept in
#                          build/fuzz/found/<target>, failing ones in
#                          build/fuzz/crashes/ (add them to the corpus once
#                          the fault is fixed; make_seeds.py writes the seeds)
# Exits non-zero when a target finds a failing input.
set -u
cd "$(dirname "$0")/../.."
mode=${1:-corpus}
seconds=${2:-30}
build=build/fuzz
targets="command_line_fuzzer environment_fuzzer"

CC=clang CXX=clang++ cmake -S . -B $build -DKOMPAKTO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build $build -j2 --target $targets >/dev/null || { cmake --build $build --target $targets; exit 1; }
mkdir -p $build/crashes $build/logs

# Command lines are cut at 32767 characters after the control byte; a little
# more lets the seeds that go beyond the cut reach the target whole.
max_len() { [ "$1" = command_line_fuzzer ] && echo 32800 || echo 9000; }

status=0
for target in $targets; do
    corpus=tests/fuzz/corpus/$target
    log=$build/logs/$target.$mode.log
    files=$(ls $corpus | wc -l)
    case $mode in
    corpus)
        $build/tests/fuzz/$target -runs=0 -max_len=$(max_len $target) -print_final_stats=1 $corpus >$log 2>&1
        ;;
    fuzz)
        mkdir -p $build/found/$target
        $build/tests/fuzz/$target -max_total_time=$seconds -max_len=$(max_len $target) -timeout=10 \
            -print_final_stats=1 -artifact_prefix=$build/crashes/$target- $build/found/$target $corpus >$log 2>&1
        ;;
    *)
        echo "usage: $0 corpus | fuzz [SECONDS]" >&2
        exit 2
        ;;
    esac
    result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' $log)
    coverage=$(grep -E '(DONE|INITED) +cov' $log | tail -1 | sed -E 's/^#[0-9]+[[:space:]]+[A-Z]+ +//')
    if [ $result -eq 0 ]; then
        echo "$target: ok, ${runs:-?} runs, corpus $files files; $coverage"
    else
        status=1
        echo "$target: FAILED (exit $result), see $log"
        grep -E 'check failed|ERROR: AddressSanitizer|runtime error|^ +[A-Za-z]|Test unit written' $log | head -20
    fi
done
exit $status
