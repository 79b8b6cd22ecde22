#!/bin/bash
# Prints the measurement table (markdown) from the files bench/run.sh
# collected in OUTDIR: the apply-run overhead, the time per command, the
# parser and stanza-table benchmarks, peak memory, and the machine.
#
#   table.sh OUTDIR
set -uo pipefail

out=$1
apply=$out/apply
here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# value KEY: the number after KEY= in each line of stdin.
value() { sed -n "s/\\(^\\|.* \\)$1=\\([0-9.]*\\).*/\\2/p"; }

# csv_rows PATTERN FIELD...: from the benchmark CSV, the rows whose name
# matches PATTERN, as NAME and the named columns, separated by blanks.
csv_rows() {
    local pattern=$1
    shift
    awk -F, -v pattern="$pattern" -v fields="$*" '
        /^name,/ { delete col; for (i = 1; i <= NF; i++) { c = $i; gsub(/"/, "", c); col[c] = i }; next }
        { name = $1; gsub(/"/, "", name) }
        name ~ pattern {
            n = split(fields, f, " "); line = name
            for (i = 1; i <= n; i++) line = line " " ((f[i] in col) ? $(col[f[i]]) : "-")
            print line
        }' "$csv"
}

echo "## Machine"
echo
cat "$out/machine.txt"
echo

echo "## 1. Apply-run overhead (256 MB ext3 image, 10,240 files; bundle: 500 removed, 1,000 added or changed, 200 owner and mode fixes)"
echo
if [ -s "$apply/pairs.txt" ]; then
    n=$(wc -l <"$apply/pairs.txt")
    # Each line: pair=N tool wall_ms=.. cpu_ms=.. ... baseline wall_ms=.. ...
    awk '{ t = $0; sub(/ baseline .*/, "", t); b = $0; sub(/.* baseline /, "", b)
           match(t, /wall_ms=[0-9.]+/); tw = substr(t, RSTART + 8, RLENGTH - 8)
           match(b, /wall_ms=[0-9.]+/); bw = substr(b, RSTART + 8, RLENGTH - 8)
           printf "%.4f\n", tw / bw }' "$apply/pairs.txt" >"$out/ratios.txt"
    tool_wall=$(sed 's/ baseline .*//' "$apply/pairs.txt" | grep -o 'wall_ms=[0-9.]*' | cut -d= -f2 | median)
    base_wall=$(sed 's/.* baseline //' "$apply/pairs.txt" | grep -o 'wall_ms=[0-9.]*' | cut -d= -f2 | median)
    tool_cpu=$(sed 's/ baseline .*//' "$apply/pairs.txt" | grep -o ' cpu_ms=[0-9.]*' | cut -d= -f2 | median)
    tool_user=$(sed 's/ baseline .*//' "$apply/pairs.txt" | grep -o ' user_ms=[0-9.]*' | cut -d= -f2 | median)
    tool_sys=$(sed 's/ baseline .*//' "$apply/pairs.txt" | grep -o ' sys_ms=[0-9.]*' | cut -d= -f2 | median)
    ratio=$(median <"$out/ratios.txt")
    # CPU of the whole process tree (the process, and the children it
    # waited for), less sensitive to the load than wall time.
    cpu_ratio=$(awk '{ t = $0; sub(/ baseline .*/, "", t); b = $0; sub(/.* baseline /, "", b)
           printf "%.4f\n", tree(t) / tree(b) }
           function num(s, k) { return match(s, " " k "=[0-9.]+") ? substr(s, RSTART + length(k) + 2, RLENGTH - length(k) - 2) : 0 }
           function tree(s) { return num(s, "cpu_ms") + num(s, "children_user_ms") + num(s, "children_sys_ms") }' \
        "$apply/pairs.txt" | median)
    loads=$(grep -o 'load=[0-9.]*' "$apply/pairs.txt" | cut -d= -f2 | tr '\n' ' ')
    echo "| measure | value |"
    echo "|---|---|"
    echo "| pairs (alternating, order swapped every pair) | $n |"
    echo "| median wall time, applyKestro | $tool_wall ms |"
    echo "| median wall time, bash script of the same command lines | $base_wall ms |"
    echo "| median ratio applyKestro / script (goal <= 1.03) | $ratio |"
    echo "| ratio of the two median wall times | $(awk -v a="$tool_wall" -v b="$base_wall" 'BEGIN { printf "%.4f", a / b }') |"
    echo "| ratios of the pairs | $(tr '\n' ' ' <"$out/ratios.txt")|"
    echo "| median ratio of the CPU time of the whole process tree (self + children) | $cpu_ratio |"
    echo "| tool's own CPU time (on-CPU, process alone, median) | $tool_cpu ms (user $tool_user ms, sys $tool_sys ms, 10 ms ticks) |"
    echo "| load average during the pairs | $loads|"
else
    echo "(no pairs measured)"
fi
echo

builder=$out/builder
echo "## 1b. The builder's bundle against the same change set with one process per script line (256 MB ext3 image, 10,240 files)"
echo
if [ -s "$builder/pairs.txt" ]; then
    # Each line: pair=N batched wall_ms=.. ... perline wall_ms=.. ... load=..
    walls() { sed "s/.* $1 //; s/ \(batched\|perline\) .*//" "$builder/pairs.txt" | grep -o 'wall_ms=[0-9.]*' | cut -d= -f2; }
    a=$(walls batched | median)
    b=$(walls perline | median)
    pair_ratios=$(paste <(walls perline) <(walls batched) | awk '{ printf "%.2f ", $1 / $2 }')
    # share KIND: the two scripts' time and share of the run, one line a traced run.
    share() {
        local f w
        for f in "$builder"/cmds-"$1"-*.tsv; do
            w=${f/cmds-/wall-}
            awk -F'\t' -v wall="$(cat "${w%.tsv}.txt")" '$4 ~ /maint_cmd_bash[12] >/ { s += ($2 - $1) * 1000 }
                END { printf "%.0f ms, %.1f %%\n", s, 100 * s / wall }' "$f"
        done | paste -sd';' | sed 's/;/; /g'
    }
    echo "| measure | builder's bundle | one process per line |"
    echo "|---|---:|---:|"
    echo "| script lines (maint_cmd_bash1 + maint_cmd_bash2, without comments) | $(cat "$builder"/batched-maint_cmd_bash* | grep -vc '^#') | $(cat "$builder"/perline-maint_cmd_bash* | grep -vc '^#') |"
    echo "| median wall time of the apply run, $(wc -l <"$builder/pairs.txt") alternating pairs | $a ms | $b ms |"
    echo "| the two scripts in traced runs: ms and share of the run (%), each run | $(share batched) | $(share perline) |"
    echo
    echo "Ratio of the median wall times, one process per line / builder's bundle (goal >= 1.3): $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", b / a }');"
    echo "ratios of the pairs: ${pair_ratios}; load average during the pairs: $(grep -o 'load=[0-9.]*' "$builder/pairs.txt" | cut -d= -f2 | tr '\n' ' ')."
    echo
    echo "## 1c. makeKestroBundle on that image and change set"
    echo
    bwall() { grep "mode=$1 " "$builder/builds.txt" | grep -o 'wall_ms=[0-9.]*' | cut -d= -f2; }
    echo "| run | wall time, each build (ms) | median |"
    echo "|---|---|---:|"
    for m in verify no-verify; do
        echo "| makeKestroBundle $([ $m = verify ] && echo "(verifying apply run)" || echo "--no-verify") | $(bwall $m | tr '\n' ' ')| $(bwall $m | median) ms |"
    done
    echo
    echo "Where one build with the verifying apply run goes (traced under strace; whole run $(xargs printf '%.0f' <"$builder/build-wall.txt") ms):"
    echo
    echo "| step | ms | share |"
    echo "|---|---:|---:|"
    awk -F'\t' -f "$here/builder-labels.awk" "$builder/build-cmds.tsv" | sort -t$'\t' -k2,2nr |
        awk -F'\t' -v wall="$(cat "$builder/build-wall.txt")" '
            $1 == "all commands" { all = $2; next }
            { printf "| %s | %d | %.1f %% |\n", $1, $2, 100 * $2 / wall }
            END { printf "| the builder process itself (reading, comparing and planning trees, writing; between commands) | %d | %.1f %% |\n", wall - all, 100 * (wall - all) / wall }'
    echo
    echo "Loads during the builds: $(grep -o 'load=[0-9.]*' "$builder/builds.txt" | cut -d= -f2 | tr '\n' ' ')"
else
    echo "(no builder measurements)"
fi
echo

echo "## 2. Time per command (ms, median of the traced runs; 10,240 files, ext3)"
echo
labels=(
    "tar -xf bundle + control"
    "gunzip old"
    "md5sum old"
    "mount old (loop, ro)"
    "dd"
    "mke2fs + tune2fs -j"
    "mount new (loop)"
    "cp -a"
    "umount old"
    "maint_cmd_bash1 (1,000 rm)"
    "payload tar -xpjf"
    "maint_cmd_bash2 (400 chown/chmod)"
    "twadmin -m P (policy)"
    "tripwire -m c"
    "umount new"
    "e2fsck -f"
    "md5sum new"
    "gzip new"
    "small commands (whoami, rpm, chmod, rm, clean-up)"
)
variants=()
for v in 64-plain 64-gz 256-plain 512-plain 512-gz; do
    ls "$apply"/cmds-"$v"-*.tsv >/dev/null 2>&1 && variants+=("$v")
done
# per_label VARIANT: "LABEL<TAB>MS" for every label and run, summed per run.
per_label() {
    local f
    for f in "$apply"/cmds-"$1"-*.tsv; do
        awk -F'\t' -f "$here/labels.awk" -f "$here/sum-labels.awk" "$f"
    done
}
if [ ${#variants[@]} -gt 0 ]; then
    header="| command |"
    rule="|---|"
    for v in "${variants[@]}"; do
        header="$header $v |"
        rule="$rule---:|"
        per_label "$v" >"$out/labels-$v.txt"
    done
    echo "$header"
    echo "$rule"
    for l in "${labels[@]}" "all commands"; do
        row="| $l |"
        for v in "${variants[@]}"; do
            m=$(awk -F'\t' -v l="$l" '$1 == l { print $2 }' "$out/labels-$v.txt" | median)
            [ "$m" = "-" ] || m=$(printf '%.0f' "$m")
            row="$row $m |"
        done
        echo "$row"
    done
    row="| whole run (tool start to exit) |"
    for v in "${variants[@]}"; do
        row="$row $(cat "$apply"/wall-"$v"-*.txt | median | xargs printf '%.0f') |"
    done
    echo "$row"
    echo
    echo "Runs per variant: $(ls "$apply"/cmds-"${variants[0]}"-*.tsv | wc -l), under strace -f --seccomp-bpf (only execve, chdir and forks stop the processes)."
else
    echo "(no traced runs)"
fi
echo

echo "## 3. Report parser (parseTWReport on real checker reports, twprint -t 4)"
echo
csv=$out/library.csv
if [ -s "$csv" ]; then
    echo "| tree objects | report MB | reported objects | CPU time per parse | MB/s (goal >= 100) | objects/s |"
    echo "|---:|---:|---:|---:|---:|---:|"
    csv_rows '^BM_parseTWReport/[0-9]+_median$' cpu_time report_MB report_objects bytes_per_second items_per_second |
        awk '{ split($1, p, "/"); sub(/_median/, "", p[2])
               printf "| %d | %.1f | %d | %.1f ms | %.0f | %.0f |\n", p[2], $3, $4, $2, $5 / 1e6, $6 }'
    t100=$(csv_rows '^BM_parseTWReport/100000_median$' cpu_time report_objects)
    t200=$(csv_rows '^BM_parseTWReport/200000_median$' cpu_time report_objects)
    if [ -n "$t100" ] && [ -n "$t200" ]; then
        echo
        awk -v a="$t200" -v b="$t100" 'BEGIN { split(a, x, " "); split(b, y, " ")
            printf "Ratio of the parse times 200k / 100k (goal <= 2.1): %.2f (reported objects %d / %d = %.2f).\n",
                x[2] / y[2], x[3], y[3], x[3] / y[3] }'
    fi
    if [ -s "$out/reports/reports.info" ]; then
        echo
        echo "Making the reports (ms): "
        echo
        sed 's/^/    /' "$out/reports/reports.info"
    fi
else
    echo "(no benchmark results)"
fi
echo

echo "## 4. Installed-bundles table (temporary files)"
echo
if [ -s "$csv" ]; then
    echo "| operation | stanzas | file KB | wall time | CPU time |"
    echo "|---|---:|---:|---:|---:|"
    csv_rows '^BM_(readInstalledBundles|updateStanza)/[0-9]+(/real_time)?_median$' file_kB real_time cpu_time |
        awk '{ split($1, p, "/"); sub(/_median/, "", p[2]); sub(/^BM_/, "", p[1])
               printf "| %s | %d | %.0f | %.2f ms | %.2f ms |\n", p[1], p[2], $2, $3, $4 }'
    echo
    echo "readInstalledBundles includes freeing the table; updateStanza reads, searches from the end (the"
    echo "bundle is the first stanza, so the whole table is searched), updates, writes back and syncs."
fi
echo

echo "## 5. Peak memory"
echo
echo "| process | peak resident (VmHWM) |"
echo "|---|---:|"
for f in "$apply"/peak-*.txt; do
    [ -f "$f" ] || continue
    v=$(basename "$f" .txt)
    v=${v#peak-}
    echo "| applyKestro, apply run $v (the tool process alone) | $(value peak_kb <"$f" | tail -1) KB |"
done
if [ -s "$out/parse-memory.txt" ]; then
    before=$(value rss_before_kb <"$out/parse-memory.txt")
    peak=$(value peak_kb <"$out/parse-memory.txt")
    entries=$(value entries <"$out/parse-memory.txt")
    objects=$(sort -n "$out/reports/reports.list" | tail -1 | cut -d' ' -f1)
    echo "| parser on the $objects-object tree's report (whole probe process; $entries list entries) | $peak KB ($((peak - before)) KB above the $before KB before the parse) |"
fi
echo
if [ -s "$apply/checks.txt" ]; then
    echo "Checker counts of the apply runs (every run must report 0 errors):"
    echo
    sed 's/^/    /' "$apply/checks.txt"
fi
