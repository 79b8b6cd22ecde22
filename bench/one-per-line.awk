# one-per-line.awk - a bundle script with one process per name: every line
# "COMMAND 'a' 'b' ..." of a script that makeKestroBundle wrote becomes the
# lines "COMMAND 'a'", "COMMAND 'b'", ... (the names hold no quotes).
/^#/ || index($0, " '") == 0 { print; next }
{
    p = index($0, " '")
    command = substr($0, 1, p - 1)
    names = substr($0, p + 2)
    sub(/'$/, "", names)
    n = split(names, name, "' '")
    for (i = 1; i <= n; i++) printf "%s '%s'\n", command, name[i]
}
