#!/bin/bash
# One command for the performance figures: builds the tool and the
# measurement programs, makes the realistic inputs, measures, and prints the
# table (also written to OUTDIR/table.md). Takes 15 to 30 minutes on two
# cores; not part of the test run. Runs as root: everything that needs the
# tool's fixed paths or loop mounts runs inside tests/e2e/root.sh, so
# the host keeps no mount, loop device or file in those paths.
#
#   bash bench/run.sh [--build DIR] [--pairs N] [--runs N] [--objects "N..."]
#                     [--variants "SIZE:KIND..."] [--profile] [--skip-apply]
#                     [--skip-reports] [--skip-builder] [--skip-library]
#
#   --build DIR   build directory (default: build-bench in the source tree)
#   --pairs N     tool/script pairs of the overhead measurement (default 7)
#   --runs N      traced runs per image variant (default 3)
#   --objects     tree sizes of the parser reports (default 25000 100000 200000)
#   --variants    image variants (default 64:plain 64:gz 512:plain 512:gz 256:plain)
#   --profile     also one apply run of the tool under callgrind
#   --skip-apply, --skip-reports, --skip-builder   reuse the results of an
#                 earlier run (builder: makeKestroBundle's time and its
#                 bundle against one process per script line, --pairs pairs)
#   --skip-library  no parser and stanza-table benchmarks
# Results: DIR/bench-out/.
set -euo pipefail

src=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
build=$src/build-bench
pairs=7
runs=3
objects="25000 100000 200000"
variants=""
profile=0
skip_apply=0
skip_reports=0
skip_builder=0
skip_library=0
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$2; shift 2 ;;
    --pairs) pairs=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --objects) objects=$2; shift 2 ;;
    --variants) variants=$2; shift 2 ;;
    --profile) profile=1; shift ;;
    --skip-apply) skip_apply=1; shift ;;
    --skip-reports) skip_reports=1; shift ;;
    --skip-builder) skip_builder=1; shift ;;
    --skip-library) skip_library=1; shift ;;
    *) sed -n '2,/^set -e/p' "$0" | sed 's/^# \{0,1\}//; /^set -e/d' >&2; exit 2 ;;
    esac
done

step() { echo "== $(date -u +%H:%M:%S) $*" >&2; }

step "building in $build"
cmake -S "$src" -B "$build" -DDELTAMAINT_BENCH=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target applyKestro makeKestroBundle bench_library runstat parse_memory >/dev/null
build=$(cd "$build" && pwd -P)
out=$build/bench-out
mkdir -p "$out"

{
    echo "- cores: $(nproc); CPU: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)"
    echo "- memory: $(awk '/MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo); kernel: $(uname -r); $(. /etc/os-release && echo "$PRETTY_NAME")"
    echo "- started: $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
} >"$out/machine.txt"

sandbox() {
    DM_BINARY_DIR=$build bash "$src/tests/e2e/root.sh" -r 2.3.1 -t 7200 "$out" "$@"
    if [ -s "$out/.leaks" ]; then
        echo "the throwaway root reported leaks:" >&2
        cat "$out/.leaks" >&2
        exit 1
    fi
}

if [ $skip_reports = 0 ]; then
    step "checker reports for trees of $objects objects (in the sandbox)"
    rm -rf "$out/reports"
    # shellcheck disable=SC2086
    sandbox bash "$src/bench/sandbox-reports.sh" /share/reports $objects
fi

if [ $skip_apply = 0 ]; then
    step "apply runs: inputs, traced runs, $pairs overhead pairs (in the sandbox)"
    rm -rf "$out/apply"
    # shellcheck disable=SC2086
    sandbox bash "$src/bench/sandbox-apply.sh" /share/apply "$pairs" "$runs" "$profile" $variants
fi

if [ $skip_builder = 0 ]; then
    step "makeKestroBundle, and its bundle against one process per script line: $pairs pairs (in the sandbox)"
    rm -rf "$out/builder"
    sandbox bash "$src/bench/sandbox-builder.sh" /share/builder "$pairs" "$runs"
fi

if [ $skip_library = 0 ]; then
step "parser and stanza-table benchmarks"
# Google Benchmark's CSV form takes one set of counters per run: the parser
# and the stanza table are run apart and their tables joined.  The parser
# runs in 7 rounds of 5 repetitions of each report size; each size keeps
# the round with the lowest median CPU time, since a virtual machine's CPU
# speed drifts over seconds, longer than one size's repetitions take.
library() {
    "$build/bench/bench_library" --data="$out/reports" --benchmark_format=csv \
        --benchmark_filter="$1" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true
}
for round in 1 2 3 4 5 6 7; do
    library parseTWReport >"$out/parser-round-$round.csv"
done
{
    awk -F, '/^name,/ { if (!header) print; header = 1; next }
             $1 ~ /_median"?$/ { if (!($1 in best) || $4 + 0 < cpu[$1]) { best[$1] = $0; cpu[$1] = $4 + 0 } }
             END { for (n in best) print best[n] | "sort -t/ -k2,2n" }' "$out"/parser-round-*.csv
    library 'readInstalledBundles|updateStanza'
} >"$out/library.csv"
largest=""
[ -f "$out/reports/reports.list" ] && largest=$(sort -n "$out/reports/reports.list" | tail -1)
if [ -n "$largest" ]; then
    read -r _ prefix file <<<"$largest"
    "$build/bench/parse_memory" "$out/reports/$file" "$prefix" >"$out/parse-memory.txt"
fi
fi

echo "- finished: $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
step "table"
bash "$src/bench/table.sh" "$out" | tee "$out/table.md"
