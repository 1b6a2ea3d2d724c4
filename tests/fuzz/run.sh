#!/bin/sh
# Builds fuzz_datapacket with clang in its own build folder, replays the
# seed corpus, then fuzzes the data file reader for a while.
#   tests/fuzz/run.sh [seconds]        (default 60)
# FUZZ_BUILD picks the build folder (default: build-fuzz at the top).
# New interesting inputs go to $FUZZ_BUILD/corpus, crashes to
# $FUZZ_BUILD/crashes; copy a fixed crash into tests/fuzz/corpus.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD:-$top/build-fuzz}
seconds=${1:-60}

mkdir -p "$build"
CC=${CC:-clang} CXX=${CXX:-clang++} \
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2
fuzzer=$build/fuzz_datapacket
mkdir -p "$build/corpus" "$build/crashes"

echo "== replaying $(ls "$here/corpus" | wc -l) seeds"
"$fuzzer" -runs=0 "$here/corpus"

echo "== fuzzing for $seconds s"
status=0
"$fuzzer" "$build/corpus" "$here/corpus" \
    -dict="$here/xml.dict" \
    -max_total_time="$seconds" \
    -max_len=16384 \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -artifact_prefix="$build/crashes/" \
    -print_final_stats=1 >"$build/fuzz.log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz.log" | tail -n 1)
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/fuzz.log" | tail -n 1)
crashes=$(find "$build/crashes" -type f | wc -l)
tail -n 15 "$build/fuzz.log"
echo "== executions: ${executions:-?} in $seconds s (${speed:-?}/s), crash inputs: $crashes (in $build/crashes)"
exit "$status"
