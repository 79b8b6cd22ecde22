#!/bin/bash
# The apply-run measurements. Runs as root inside the sandbox (bench/run.sh
# starts it there with the rpm stand-in of tripwire 2.3.1), with the build
# directory in DM_BINARY_DIR.
#
#   sandbox-apply.sh OUTDIR PAIRS RUNS PROFILE [VARIANT...]
#
# VARIANT is SIZE:plain or SIZE:gz (default: 64:plain 64:gz 512:plain 512:gz
# 256:plain). For each: the old image and the bundle (apply-inputs.sh), an
# unmeasured first run when the sandbox has no checker keys yet (it makes
# them), then RUNS runs under strace that time every command the tool
# starts (OUTDIR/cmds-SIZE-KIND-N.tsv: start, end, directory, command).
# For 256:plain also the overhead: a bash script made from the traced
# commands (OUTDIR/baseline.sh) and the tool, alternated PAIRS times under
# runstat (OUTDIR/pairs.txt), then one run for the tool's peak memory
# (OUTDIR/peak-SIZE-KIND.txt, also for 512:gz). With PROFILE 1, one more
# run of the last variant with the tool under callgrind (its children are
# not traced): OUTDIR/callgrind.out.
# OUTDIR/checks.txt gets the checker's counts of every run.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
FX_PROG=sandbox-apply.sh
# shellcheck source=../tests/e2e/fixtures.sh
. "$here/../tests/e2e/fixtures.sh"
# shellcheck source=apply-inputs.sh
. "$here/apply-inputs.sh"

out=$1
pairs=$2
runs=$3
profile=$4
shift 4
variants=("$@")
[ ${#variants[@]} -gt 0 ] || variants=(64:plain 64:gz 512:plain 512:gz 256:plain)

tool=$DM_BINARY_DIR/applyKestro
runstat=$DM_BINARY_DIR/bench/runstat
log=/var/log/maint/kestro.log
mkdir -p "$out"

fx_init
bi_stage

# run_tool: one apply run of the current variant's bundle; its console
# output is dropped like the baseline's.
run_tool() {
    "$@" "$tool" "$BI_BUNDLE" >/dev/null 2>&1
}

# check_run LABEL: the run must have put the new image in place; the
# checker's counts it logged go to checks.txt.
check_run() {
    local counts
    [ -f "/tftpboot/image/$BI_NEW" ] || fx_die "$1: no new image /tftpboot/image/$BI_NEW"
    counts=$(grep 'Total files in image' "$log" | tail -1 | sed 's/^.* - //')
    echo "$1: $counts" >>"$out/checks.txt"
}

# trace_run NAME: one run under strace; its commands with their times go to
# cmds-NAME.tsv, the whole run's time to wall-NAME.txt.
trace_run() {
    local name=$1 trace="$FX_TMP/trace.txt"
    strace -f -q -ttt -s 1000 --seccomp-bpf -e trace=execve,chdir,clone,clone3,fork,vfork \
        -o "$trace" "$tool" "$BI_BUNDLE" >/dev/null 2>&1 || fx_die "traced run $name failed"
    awk -f "$here/trace-commands.awk" "$trace" "$trace" | sort -n >"$out/cmds-$name.tsv"
    # The whole run: from the tool's start to its exit.
    awk 'NR == 1 { pid = $1; first = $2 } $1 == pid && /[+][+][+] exited/ { last = $2 }
         END { printf "%.1f\n", (last - first) * 1000 }' "$trace" >"$out/wall-$name.txt"
    head -1 "$trace" | cut -d' ' -f1 >"$FX_TMP/trace.pid"
    check_run "traced $name"
}

# The checksum record's fields after the checksum for an image of SIZE MB.
record_fields() {
    local size=$1 bs=4096
    if [ "$size" -gt 512 ]; then bs=32768; elif [ "$size" -gt 256 ]; then bs=16384; elif [ "$size" -gt 128 ]; then bs=8192; fi
    echo "$((size * 1048576 / bs)) $bs"
}

overhead() {
    local size=$1 kind=$2 i
    awk -v pid="$(cat "$FX_TMP/trace.pid")" -v kind="$kind" -v record="$(record_fields "$size")" \
        -f "$here/make-baseline.awk" "$out/cmds-$size-$kind-$runs.tsv" >"$out/baseline.sh"
    # The baseline must do the run's work: one checked run first.
    rm -f "/tftpboot/image/$BI_NEW"
    bash "$out/baseline.sh" >/dev/null 2>&1 </dev/null || fx_die "the baseline script failed"
    [ -f "/tftpboot/image/$BI_NEW" ] || fx_die "the baseline script made no new image"
    : >"$out/pairs.txt"
    for ((i = 1; i <= pairs; i++)); do
        # Alternate which of the two goes first.
        if ((i % 2)); then
            "$runstat" --out "$FX_TMP/tool.txt" -- "$tool" "$BI_BUNDLE" >/dev/null 2>&1 </dev/null || fx_die "tool run failed"
            check_run "pair $i tool"
            "$runstat" --out "$FX_TMP/base.txt" -- bash "$out/baseline.sh" >/dev/null 2>&1 </dev/null || fx_die "baseline run failed"
        else
            "$runstat" --out "$FX_TMP/base.txt" -- bash "$out/baseline.sh" >/dev/null 2>&1 </dev/null || fx_die "baseline run failed"
            "$runstat" --out "$FX_TMP/tool.txt" -- "$tool" "$BI_BUNDLE" >/dev/null 2>&1 </dev/null || fx_die "tool run failed"
            check_run "pair $i tool"
        fi
        echo "pair=$i tool $(tail -1 "$FX_TMP/tool.txt") baseline $(tail -1 "$FX_TMP/base.txt") load=$(cut -d' ' -f1 /proc/loadavg)" >>"$out/pairs.txt"
    done
}

peak() {
    "$runstat" --peak --out "$out/peak-$1-$2.txt" -- "$tool" "$BI_BUNDLE" >/dev/null 2>&1 </dev/null ||
        fx_die "peak run failed"
    check_run "peak $1-$2"
}

for v in "${variants[@]}"; do
    size=${v%%:*}
    kind=${v#*:}
    t0=$(date +%s)
    bi_make "$size" "$kind"
    t1=$(date +%s)
    echo "inputs $size-$kind: $((t1 - t0)) s" >>"$out/checks.txt"
    # The first run of a sandbox makes the checker's keys and configuration
    # in /var/maint; it is not measured.
    if [ ! -f /var/maint/dm.skey ]; then
        run_tool || fx_die "warm-up run of $v failed"
        check_run "warm-up $size-$kind"
    fi
    for ((r = 1; r <= runs; r++)); do
        trace_run "$size-$kind-$r"
    done
    if [ "$v" = 256:plain ]; then
        overhead "$size" "$kind"
    fi
    if [ "$v" = 256:plain ] || [ "$v" = 512:gz ]; then
        peak "$size" "$kind"
    fi
    if [ "$profile" = 1 ] && [ "$v" = "${variants[-1]}" ]; then
        valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$tool" "$BI_BUNDLE" \
            >/dev/null 2>"$out/callgrind.log" </dev/null || fx_die "callgrind run failed"
        check_run "callgrind $size-$kind"
    fi
    bi_drop "$size" "$kind"
done
