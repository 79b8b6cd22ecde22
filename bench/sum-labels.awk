# sum-labels.awk - milliseconds per table row of one traced run (input:
# trace-commands.awk's lines; needs labels.awk).
{ ms[label($4)] += ($2 - $1) * 1000; all += ($2 - $1) * 1000 }
END {
    for (l in ms) printf "%s\t%.1f\n", l, ms[l]
    printf "all commands\t%.1f\n", all
}
