#!/bin/bash
# The builder measurements. Runs as root inside the sandbox (bench/run.sh
# starts it there with the rpm stand-in of tripwire 2.3.1), with the build
# directory in DM_BINARY_DIR.
#
#   sandbox-builder.sh OUTDIR PAIRS RUNS
#
# On the apply measurements' 256 MB ext3 image and change set
# (apply-inputs.sh): the wanted tree is the old tree with the change set
# applied. makeKestroBundle builds the bundle for it from the old image,
# RUNS times with the verifying apply run and RUNS times with --no-verify,
# alternately, under runstat (OUTDIR/builds.txt), then once more under
# strace (OUTDIR/build-cmds.tsv: start, end, command of every command it
# ran; OUTDIR/build-wall.txt). Its bundle is compared with the same bundle
# whose scripts start one process per name (one-per-line.awk): PAIRS
# alternating apply runs of the two on the same old image under runstat
# (OUTDIR/pairs.txt), then RUNS traced apply runs of each
# (OUTDIR/cmds-batched-N.tsv, cmds-perline-N.tsv and wall-*.txt, as in
# sandbox-apply.sh). OUTDIR/checks.txt gets the checker's counts of every
# apply run.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
FX_PROG=sandbox-builder.sh
# shellcheck source=../tests/e2e/fixtures.sh
. "$here/../tests/e2e/fixtures.sh"
# shellcheck source=apply-inputs.sh
. "$here/apply-inputs.sh"

out=$1
pairs=$2
runs=$3
tool=$DM_BINARY_DIR/applyKestro
builder=$DM_BINARY_DIR/makeKestroBundle
runstat=$DM_BINARY_DIR/bench/runstat
log=/var/log/maint/kestro.log
mkdir -p "$out"
: >"$out/checks.txt"

fx_init
bi_stage
bi_make 256 plain
old=/tftpboot/image/$BI_OLD
wanted=$BI_STAGE/new
batched=$BI_STAGE/batched.tar
perline=$BI_STAGE/perline.tar

cp -a "$BI_STAGE/old" "$wanted"
(cd "$wanted" && "$BI_STAGE/bash1" && tar --same-owner -xpjf "$BI_STAGE/maint.tar.bz2" &&
    "$BI_STAGE/bash2") >"$FX_TMP/wanted.out" 2>&1 || { cat "$FX_TMP/wanted.out" >&2; fx_die "making the wanted tree failed"; }

for ((i = 1; i <= runs; i++)); do
    for mode in verify no-verify; do
        opt=()
        [ $mode = verify ] || opt=(--no-verify)
        "$runstat" --out "$FX_TMP/build.txt" -- "$builder" -M "${opt[@]}" -o "$batched" "$old" "$wanted" \
            "$BI_NEW" >"$FX_TMP/build.out" 2>&1 </dev/null || { cat "$FX_TMP/build.out" >&2; fx_die "build $mode $i failed"; }
        echo "build=$i mode=$mode $(tail -1 "$FX_TMP/build.txt") load=$(cut -d' ' -f1 /proc/loadavg)" >>"$out/builds.txt"
    done
done
strace -f -q -ttt -s 1000 --seccomp-bpf -e trace=execve,chdir,clone,clone3,fork,vfork \
    -o "$FX_TMP/trace.txt" "$builder" -M -o "$batched" "$old" "$wanted" "$BI_NEW" >"$FX_TMP/build.out" 2>&1 </dev/null ||
    { cat "$FX_TMP/build.out" >&2; fx_die "traced build failed"; }
awk -f "$here/builder-commands.awk" "$FX_TMP/trace.txt" "$FX_TMP/trace.txt" | sort -n >"$out/build-cmds.tsv"
awk 'NR == 1 { pid = $1; first = $2 } $1 == pid && /[+][+][+] exited/ { last = $2 }
     END { printf "%.1f\n", (last - first) * 1000 }' "$FX_TMP/trace.txt" >"$out/build-wall.txt"
cp "$FX_TMP/build.out" "$out/build-console.txt"

# The same bundle with one process per name in its scripts.
split=$FX_TMP/split
mkdir -p "$split/ctl"
tar -xf "$batched" -C "$split"
tar -xjf "$split/control.tar.bz2" -C "$split/ctl"
for s in maint_cmd_bash1 maint_cmd_bash2; do
    cp "$split/ctl/$s" "$out/batched-$s"
    awk -f "$here/one-per-line.awk" "$out/batched-$s" >"$split/ctl/$s"
    cp "$split/ctl/$s" "$out/perline-$s"
done
fx_run "control tar" tar --numeric-owner -cjf "$split/control.tar.bz2" -C "$split/ctl" \
    maint_cmd_bash1 maint_cmd_bash2 maintData tw.maint_db
fx_run "bundle tar" tar --numeric-owner -cf "$perline" -C "$split" control.tar.bz2 maint.tar.bz2

# apply NAME BUNDLE [RUNNER...]: one apply run; it must put the new image in
# place and its checker counts go to checks.txt.
apply() {
    local name=$1 bundle=$2
    shift 2
    rm -f "/tftpboot/image/$BI_NEW"
    "$@" "$tool" "$bundle" >/dev/null 2>&1 </dev/null || fx_die "apply run $name failed"
    [ -f "/tftpboot/image/$BI_NEW" ] || fx_die "$name: no new image"
    echo "$name: $(grep 'Total files in image' "$log" | tail -1 | sed 's/^.* - //')" >>"$out/checks.txt"
}
# The first run of the sandbox makes the checker's keys; not measured.
apply warm-up "$batched"
: >"$out/pairs.txt"
for ((i = 1; i <= pairs; i++)); do
    if ((i % 2)); then
        apply "pair $i batched" "$batched" "$runstat" --out "$FX_TMP/a.txt" --
        apply "pair $i per-line" "$perline" "$runstat" --out "$FX_TMP/b.txt" --
    else
        apply "pair $i per-line" "$perline" "$runstat" --out "$FX_TMP/b.txt" --
        apply "pair $i batched" "$batched" "$runstat" --out "$FX_TMP/a.txt" --
    fi
    echo "pair=$i batched $(tail -1 "$FX_TMP/a.txt") perline $(tail -1 "$FX_TMP/b.txt") load=$(cut -d' ' -f1 /proc/loadavg)" >>"$out/pairs.txt"
done
for ((r = 1; r <= runs; r++)); do
    for kind in batched perline; do
        bundle=$batched
        [ $kind = batched ] || bundle=$perline
        apply "traced $kind $r" "$bundle" strace -f -q -ttt -s 1000 --seccomp-bpf \
            -e trace=execve,chdir,clone,clone3,fork,vfork -o "$FX_TMP/trace.txt"
        awk -f "$here/trace-commands.awk" "$FX_TMP/trace.txt" "$FX_TMP/trace.txt" | sort -n >"$out/cmds-$kind-$r.tsv"
        awk 'NR == 1 { pid = $1; first = $2 } $1 == pid && /[+][+][+] exited/ { last = $2 }
             END { printf "%.1f\n", (last - first) * 1000 }' "$FX_TMP/trace.txt" >"$out/wall-$kind-$r.txt"
    done
done
bi_drop 256 plain
