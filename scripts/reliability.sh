#!/usr/bin/env bash
# The reliability run: every trial of tests/reliability with the FULL signal
# matrix (4 signals x 2 delivery modes x 14 commands), the resource faults,
# the bad bundles and data and the hostile paths, each an end-to-end run in a
# throwaway sandbox; then the fuzzers (scripts/fuzz.sh, when present); then
# docs/RELIABILITY.md, written from the results.  Fails when a trial fails,
# a trial was skipped, or the host changed (mounts, loop devices, the tool's
# fixed paths).  Run as root on Debian 12.
#
# usage: scripts/reliability.sh [--build DIR] [--fuzz-seconds N] [--no-fuzz]
#   --build DIR        build in DIR (cmake) instead of ./build (scripts/setup.sh,
#                      which also installs the platform packages)
#   --fuzz-seconds N   how long each fuzzer runs (default 600)
#   --no-fuzz          leave the fuzzers out; their last figures, if any, are used
set -euo pipefail

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
repo=$(pwd)
build=""
fuzz=1
fuzz_seconds=600
usage() {
    echo "usage: scripts/reliability.sh [--build DIR] [--fuzz-seconds N] [--no-fuzz]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
        --fuzz-seconds) [ $# -ge 2 ] && [[ "$2" =~ ^[1-9][0-9]*$ ]] || usage
                        fuzz_seconds=$2; shift 2 ;;
        --no-fuzz) fuzz=0; shift ;;
        *) usage ;;
    esac
done
if [ "$(id -u)" != 0 ]; then
    echo "scripts/reliability.sh: must run as root (the trials mount loop images in sandboxes)" >&2
    exit 1
fi

# What the trials must not change on the host.
host_state() {
    awk '$2 ~ /^\/(tftpboot|var\/maint|var\/log\/maint|tmp\/maint_zor)(\/|$)/' /proc/mounts
    local path
    for path in /var/maint /var/log/maint /tftpboot /tmp/maint_zor /etc/logrotate.d/maint \
                /root/.rpmdb /etc/inittab; do
        if [ -e "$path" ] || [ -L "$path" ]; then
            find "$path" -xdev -printf '%p %y %m %U:%G %s %T@\n' | sort
        else
            echo "$path absent"
        fi
    done
}
# Loop devices are global: other work on the machine may hold some for a
# while.  A device backed by a file in a sandbox that still exists (its
# directory /tmp/dm-sandbox.* is there while it runs) is not counted; one
# that is still new after half a minute is a fault.
loop_devices() {
    losetup --list --noheadings --output NAME,BACK-FILE 2>/dev/null | sort |
        while read -r name file; do
            case "$file" in
                /tmp/dm-sandbox.*/*)
                    [ -d "$(cut -d/ -f1-3 <<<"$file")" ] && continue ;;
            esac
            echo "$name $file"
        done
}
new_loops() {
    local i found=""
    for i in 1 2 3 4; do
        found=$(comm -13 <(echo "$loops_before") <(loop_devices))
        [ -z "$found" ] && return 0
        sleep 10
    done
    echo "$found"
}
before=$(host_state)
loops_before=$(loop_devices)

if [ -z "$build" ]; then
    build=$repo/build
    bash scripts/setup.sh
else
    cmake -S "$repo" -B "$build"
    cmake --build "$build" -j2
fi
build=$(cd "$build" && pwd)
results=$build/reliability
rm -rf "$results"
mkdir -p "$results"

echo "== reliability trials (full signal matrix), two shards in parallel"
export DELTAMAINT_REQUIRE_E2E=1 DM_SIGNAL_MATRIX=full DM_BINARY_DIR=$build
pids=()
for shard in 0 1; do
    GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$shard \
        "$build/tests/reliability_tests" --gtest_output="xml:$results/shard$shard.xml" \
        >"$results/shard$shard.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
grep -h '^\[  FAILED  \]' "$results"/shard*.log | sort -u || true
if grep -q 'result="skipped"' "$results"/shard*.xml; then
    echo "FAIL: trials were skipped" >&2
    status=1
fi

fuzz_stats=${DM_FUZZ_BUILD:-$repo/build-fuzz}/fuzz-stats.txt
if [ "$fuzz" = 1 ]; then
    if [ -f scripts/fuzz.sh ]; then
        echo "== fuzzers (scripts/fuzz.sh)"
        bash scripts/fuzz.sh "$fuzz_seconds" || status=1
    else
        echo "== no scripts/fuzz.sh: the fuzzers are left out"
    fi
fi

bash scripts/reliability-doc.sh "$repo/docs/RELIABILITY.md" "$fuzz_stats" "$results"/shard*.xml

after=$(host_state)
if [ "$before" != "$after" ]; then
    echo "FAIL: the trials changed the host:" >&2
    diff <(echo "$before") <(echo "$after") >&2 || true
    status=1
fi
leaked=$(new_loops)
if [ -n "$leaked" ]; then
    echo "FAIL: loop devices were left attached:" >&2
    echo "$leaked" >&2
    status=1
fi
if [ "$status" != 0 ]; then
    echo "FAIL: see $results/shard*.log" >&2
    exit 1
fi
echo "== all reliability trials passed; the host is unchanged"
