#!/bin/bash
# Makes real integrity-checker reports for the parser benchmark. Runs as
# root inside the sandbox (bench/run.sh starts it there), with the share as
# the working directory.
#
#   sandbox-reports.sh OUTDIR OBJECTS...
#
# For each object count: a tree of that many objects in a tmpfs (/tmp inside
# the sandbox), a database of it (tripwire --init), changes to about a
# quarter of its files (contents, modes, owners, removals, additions, new
# directories), a check, and the full-detail report (twprint -t 4) in
# OUTDIR/report-OBJECTS.txt. OUTDIR/reports.list gets one line per report:
# OBJECTS PREFIX FILE, PREFIX being the length of the tree's root path.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
FX_PROG=sandbox-reports.sh
# shellcheck source=../tests/e2e/fixtures.sh
. "$here/../tests/e2e/fixtures.sh"
fx_init

out=$1
shift
mkdir -p "$out"
: >"$out/reports.list"

root=/tmp/bench-tree
tw=/tmp/bench-tw
per_dir=100 # objects per directory: the directory and 99 files
mkdir -p "$tw"

# The checker's keys, configuration and a one-rule policy on the tree.
fx_checker_files "$tw" "$tw/tw.db" "$root -> +pnugsM;"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# make_tree OBJECTS: directories of $per_dir objects; the file contents
# are written by the shell itself (no process per file).
make_tree() {
    local objects=$1 dirs d f path
    dirs=$((objects / per_dir))
    rm -rf "$root"
    mkdir "$root"
    for ((d = 0; d < dirs; d++)); do
        path=$root/d$d
        mkdir "$path"
        for ((f = 0; f < per_dir - 1; f++)); do
            printf 'file %d of directory %d\n' "$f" "$d" >"$path/f$f"
        done
    done
}

# change_tree OBJECTS: of every 20 files, one gets more content, one
# another mode, one another owner and group, one is removed, and one gets
# a new neighbour; every tenth directory gets a new subdirectory.
change_tree() {
    local objects=$1 dirs d f path
    dirs=$((objects / per_dir))
    : >"$tw/chmod.list"
    : >"$tw/chown.list"
    : >"$tw/rm.list"
    for ((d = 0; d < dirs; d++)); do
        path=$root/d$d
        for ((f = 0; f < per_dir - 1; f++)); do
            case $((f % 20)) in
            1) echo "more" >>"$path/f$f" ;;
            5) printf '%s\0' "$path/f$f" >>"$tw/chmod.list" ;;
            9) printf '%s\0' "$path/f$f" >>"$tw/chown.list" ;;
            13) printf '%s\0' "$path/f$f" >>"$tw/rm.list" ;;
            17) echo "new" >"$path/n$f" ;;
            esac
        done
        if ((d % 10 == 0)); then
            mkdir "$path/sub"
        fi
    done
    xargs -0 -r chmod 600 <"$tw/chmod.list"
    xargs -0 -r chown 500:100 <"$tw/chown.list"
    xargs -0 -r rm -f <"$tw/rm.list"
}

for objects in "$@"; do
    t0=$(now_ms)
    make_tree "$objects"
    t1=$(now_ms)
    rm -f "$tw/tw.db" "$tw/tw.rpt"
    tripwire --init -c "$tw/tw.cfg" -p "$tw/tw.pol" >"$tw/init.out" 2>&1 ||
        { cat "$tw/init.out" >&2; echo "tripwire --init failed for $objects objects" >&2; exit 1; }
    t2=$(now_ms)
    change_tree "$objects"
    t3=$(now_ms)
    rc=0
    tripwire -m c -c "$tw/tw.cfg" -p "$tw/tw.pol" >"$tw/check.out" 2>&1 || rc=$?
    if [ $rc -ge 8 ]; then
        cat "$tw/check.out" >&2
        echo "tripwire check failed for $objects objects (exit $rc)" >&2
        exit 1
    fi
    t4=$(now_ms)
    report=report-$objects.txt
    twprint -m r -c "$tw/tw.cfg" -r "$tw/tw.rpt" -t 4 >"$out/$report" 2>/dev/null
    t5=$(now_ms)
    scanned=$(sed -n 's/^Total objects scanned: *//p' "$tw/check.out" | head -1)
    violations=$(sed -n 's/^Total violations found: *//p' "$tw/check.out" | head -1)
    echo "$objects ${#root} $report" >>"$out/reports.list"
    echo "objects=$objects scanned=$scanned violations=$violations bytes=$(stat -c %s "$out/$report")" \
        "make_ms=$((t1 - t0)) init_ms=$((t2 - t1)) change_ms=$((t3 - t2))" \
        "check_ms=$((t4 - t3)) twprint_ms=$((t5 - t4))" >>"$out/reports.info"
    rm -rf "$root" "$tw/tw.db" "$tw/tw.rpt"
done
