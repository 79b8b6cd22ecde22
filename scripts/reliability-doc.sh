#!/usr/bin/env bash
# Writes docs/RELIABILITY.md from the results of a reliability run: the
# XML results of tests/reliability (one or more files, written with
# --gtest_output=xml) and, when present, the fuzzers' figures (one line per
# fuzzer: NAME EXECUTIONS CORPUS_SIZE CRASHES).  Every row of the tables
# is one test; nothing is typed in by hand.
#
# usage: scripts/reliability-doc.sh OUTPUT.md FUZZ_STATS RESULTS.xml...
set -euo pipefail

if [ $# -lt 3 ]; then
    echo "usage: scripts/reliability-doc.sh OUTPUT.md FUZZ_STATS RESULTS.xml..." >&2
    exit 2
fi
out=$1
fuzz_stats=$2
shift 2

# One tab-separated line per test: name, kind, what was tried, result
# (passed, FAILED or skipped), seconds.
trials() {
    awk '
        function attr(line, key,    m) {
            if (match(line, " " key "=\"[^\"]*\"")) return substr(line, RSTART + length(key) + 3, RLENGTH - length(key) - 4)
            return ""
        }
        function text(s) {
            gsub(/&quot;/, "\"", s); gsub(/&apos;/, "\047", s); gsub(/&lt;/, "<", s)
            gsub(/&gt;/, ">", s); gsub(/&amp;/, "\\&", s); gsub(/\|/, "\\|", s)
            return s
        }
        function emit() {
            if (name == "") return
            print name "\t" kind "\t" tried "\t" result "\t" seconds
            name = ""
        }
        /<testcase / {
            emit()
            name = attr($0, "classname") "." attr($0, "name")
            seconds = attr($0, "time"); kind = "other"; tried = ""
            result = attr($0, "result") == "skipped" ? "skipped" : "passed"
            if ($0 ~ /\/>[[:space:]]*$/) emit()
            next
        }
        /<property name="kind"/ { kind = attr($0, "value") }
        /<property name="tried"/ { tried = text(attr($0, "value")) }
        /<failure/ { result = "FAILED" }
        /<skipped/ { result = "skipped" }
        /<\/testcase>/ { emit() }
    ' "$@" | sort
}

all=$(trials "$@")
if [ -z "$all" ]; then
    echo "scripts/reliability-doc.sh: no test results in $*" >&2
    exit 1
fi

# count KIND [RESULT]
count() {
    awk -F'\t' -v k="$1" -v r="${2:-}" '$2 == k && (r == "" || $4 == r)' <<<"$all" | wc -l | tr -d ' '
}

signal_cell() {
    local line
    line=$(awk -F'\t' -v n="Signals/Interrupt.Run/$1" '$1 == n' <<<"$all")
    if [ -z "$line" ]; then
        echo "-"
    else
        cut -f4 <<<"$line" | sed 's/^passed$/survived/'
    fi
}

{
    echo "# Reliability figures"
    echo
    echo "Written by \`scripts/reliability.sh\` (through \`scripts/reliability-doc.sh\`) from the"
    echo "results of \`tests/reliability\` run on $(date -u '+%Y-%m-%d %H:%M UTC'). Do not edit by hand."
    echo
    echo "Each trial is one end-to-end run of the real tool on the real platform commands in a"
    echo "throwaway sandbox. A fault *survived* when the run ended as its failure row says, with a"
    echo "\"Failed\" stanza, no mount or loop device of the run, no working directory, no image or"
    echo "checksum record under the final name, and (for signals) the next run of the same bundle"
    echo "ended \"OK\". A bad input or hostile path is *clean* when the run ended with its exact or a"
    echo "clear message, no command line held an unvetted value, nothing was written through a"
    echo "planted path, and nothing was left behind beyond what a failed run may leave."
    echo
    echo "## Summary"
    echo
    echo "| Trials | Tried | Survived / clean | Failed |"
    echo "|---|---|---|---|"
    echo "| Faults: signals during each command, resources | $(count fault) | $(count fault passed) survived | $(count fault FAILED) |"
    echo "| Bad bundles and maintenance data | $(count input) | $(count input passed) clean | $(count input FAILED) |"
    echo "| Hostile paths and overlong names | $(count hostile) | $(count hostile passed) clean | $(count hostile FAILED) |"
    echo
    echo "## Fuzzers"
    echo
    if [ -s "$fuzz_stats" ]; then
        echo "| Fuzzer | Executions | Corpus size | Crashes |"
        echo "|---|---|---|---|"
        awk 'NF >= 4 { printf "| %s | %s | %s | %s |\n", $1, $2, $3, $4 }' "$fuzz_stats"
    else
        echo "No fuzzing figures: \`$fuzz_stats\` was not there when this file was written."
    fi
    echo
    echo "## Signal matrix"
    echo
    echo "Signal delivered while the command runs, to the tool alone or to its whole process"
    echo "group; each cell is one test (\"-\": not run in this pass)."
    echo
    header="| Command |"
    rule="|---|"
    for sig in SIGTERM SIGINT SIGQUIT SIGHUP; do
        header+=" $sig tool | $sig group |"
        rule+="---|---|"
    done
    echo "$header"
    echo "$rule"
    # The commands in the order a run starts them, then any other.
    order="BundleUnpack Gunzip OldImageMount Dd Mke2fs Tune2fs Cp Bash1 PayloadTar Bash2 Checker
           Unmount E2fsck Gzip"
    commands=$( (printf '%s\n' $order
                 awk -F'\t' '$1 ~ /^Signals\/Interrupt\.Run\// {
                     n = $1; sub(/^Signals\/Interrupt\.Run\//, "", n); sub(/_SIG.*/, "", n); print n }' \
                     <<<"$all") | awk '!seen[$0]++' |
               while read -r cmd; do
                   grep -q "^Signals/Interrupt.Run/${cmd}_" <<<"$all" && echo "$cmd"
               done)
    for cmd in $commands; do
        row="| $cmd |"
        for sig in SIGTERM SIGINT SIGQUIT SIGHUP; do
            row+=" $(signal_cell "${cmd}_${sig}_ToTool") | $(signal_cell "${cmd}_${sig}_ToGroup") |"
        done
        echo "$row"
    done
    echo
    echo "## Every trial"
    echo
    echo "| Test | Kind | Tried | Result | Seconds |"
    echo "|---|---|---|---|---|"
    awk -F'\t' '{ printf "| %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5 }' <<<"$all"
} >"$out"
echo "wrote $out"
