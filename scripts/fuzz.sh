#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, clang's libFuzzer with ASan and UBSan) in
# build-fuzz/ and runs each for SECONDS (default 60), two at a time.  Fails
# when any fuzzer finds a crash, a leak, a timeout (an input that takes more
# than 10 s) or runs out of memory; the input is kept in
# build-fuzz/artifacts/.  Long fuzzing is the same command with more time,
# for example `scripts/fuzz.sh 3600`.
#
# Each fuzzer starts from its seeds (fuzz/seeds/NAME plus the tests' data:
# the checker reports in tests/data/twreports, every line of the inittab
# tables in tests/data/inittab) and keeps what it finds in
# build-fuzz/corpus/NAME, so later runs go on from there.
#
# Writes build-fuzz/fuzz-stats.txt, one line per fuzzer:
#   NAME EXECUTIONS CORPUS_SIZE CRASHES
# and each fuzzer's output to build-fuzz/logs/NAME.log.
#
# Environment: DM_FUZZ_BUILD overrides the build directory.
set -euo pipefail

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
repo=$(pwd)
build=${DM_FUZZ_BUILD:-$repo/build-fuzz}
seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS]" >&2
    exit 2
fi
command -v clang++ >/dev/null || { echo "scripts/fuzz.sh: clang++ is not installed" >&2; exit 1; }

# The fuzzers and the longest input each is given: long enough for lines
# beyond the readers' 300-character buffers and for a whole checker report.
fuzzers=(maintdata twreport stanzas sedpattern)
declare -A max_len=([maintdata]=4096 [twreport]=16384 [stanzas]=8192 [sedpattern]=2048)

echo "== building the fuzzers in $build"
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

# Seeds from the tests' data, regenerated each time (the committed seeds
# are read from fuzz/seeds directly).
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/twreport" "$seeds/sedpattern" "$build/artifacts" "$build/logs"
cp tests/data/twreports/* "$seeds/twreport/"
n=0
while IFS= read -r line; do
    n=$((n + 1))
    printf '%s' "$line" >"$seeds/sedpattern/inittab-line-$n"
done < <(find tests/data/inittab -type f ! -name README -exec cat {} + | sort -u)

# Runs one fuzzer; its status is in logs/NAME.status.
run_fuzzer() {
    local name=$1
    local corpus=$build/corpus/$name
    mkdir -p "$corpus"
    rm -f "$build/artifacts/$name-"*
    local dirs=("$corpus" "fuzz/seeds/$name")
    [ -d "$seeds/$name" ] && dirs+=("$seeds/$name")
    local status=0
    ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
        -max_len="${max_len[$name]}" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "${dirs[@]}" \
        >"$build/logs/$name.log" 2>&1 &
    local pid=$!
    wait "$pid" || status=$?
    # The stanza fuzzer's per-process directory outlives a crash.
    rm -rf "/tmp/dm-fuzz-$pid-"*
    echo "$status" >"$build/logs/$name.status"
}

echo "== fuzzing each target for $seconds s"
for ((i = 0; i < ${#fuzzers[@]}; i += 2)); do
    for name in "${fuzzers[@]:i:2}"; do
        run_fuzzer "$name" &
    done
    wait
done

failed=0
stats=$build/fuzz-stats.txt
: >"$stats"
for name in "${fuzzers[@]}"; do
    log=$build/logs/$name.log
    status=$(cat "$build/logs/$name.status")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ -z "$execs" ]; then
        # A fuzzer that stopped on a finding prints no final stats: take the
        # last progress line ("#N ...").
        execs=$(sed -n 's/^#\([0-9][0-9]*\).*/\1/p' "$log" | tail -1)
    fi
    # The corpus the fuzzer ended with (seeds and finds, as its last
    # progress line counts it), else the files it kept.
    corpus_size=$(sed -n 's/.* corp: \([0-9][0-9]*\)\/.*/\1/p' "$log" | tail -1)
    [ -n "$corpus_size" ] || corpus_size=$(find "$build/corpus/$name" -type f | wc -l)
    crashes=$(find "$build/artifacts" -name "$name-*" -type f | wc -l)
    echo "$name ${execs:-0} $corpus_size $crashes" >>"$stats"
    if [ "$status" != 0 ] || [ "$crashes" != 0 ]; then
        echo "FAIL: fuzz_$name (status $status); its findings:" >&2
        find "$build/artifacts" -name "$name-*" -type f >&2
        grep -E 'ERROR|SUMMARY|property failed|Test unit written' "$log" >&2 || tail -20 "$log" >&2
        failed=1
    fi
done
echo "== fuzz figures ($stats): NAME EXECUTIONS CORPUS_SIZE CRASHES"
cat "$stats"
if [ "$failed" != 0 ]; then
    exit 1
fi
echo "== no fuzzer found a crash, leak or timeout"
