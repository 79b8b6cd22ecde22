# trace-commands.awk - the shell commands one process ran, from an
# `strace -f -ttt -e trace=execve,chdir,clone,clone3,fork,vfork` log given
# twice (two passes: a child's lines can come before its parent's clone
# returns). The traced process is the first pid of the log. Prints, in the
# order they started, one line per `/bin/sh -c` child of that process:
#   START<TAB>END<TAB>CWD<TAB>COMMAND
# START is the time of its execve, END of its exit (seconds, microsecond
# resolution), CWD the process's directory when it forked.

function unescape(s,    out, i, c, n) {
    out = ""
    n = length(s)
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (c == "\\" && i < n) {
            i++
            c = substr(s, i, 1)
            if (c == "n") c = "\n"
            else if (c == "t") c = "\t"
        }
        out = out c
    }
    return out
}

function rest_of(line) {
    # Everything after "PID TIME ".
    sub(/^[0-9]+ +[0-9.]+ +/, "", line)
    return line
}

NR == FNR {
    if (FNR == 1) main = $1
    if ($1 != main) next
    r = rest_of($0)
    if (r ~ /^chdir\("/ && r ~ /\) += 0$/) {
        d = r
        sub(/^chdir\("/, "", d)
        sub(/"\) += 0$/, "", d)
        cwd = unescape(d)
    } else if (r ~ /(clone|fork)/ && match(r, /= [0-9]+$/)) {
        child = substr(r, RSTART + 2)
        kid[child] = 1
        kidcwd[child] = cwd
    }
    next
}

($1 in kid) {
    r = rest_of($0)
    if (!($1 in start) && r ~ /^execve\("[^"]*\/sh", \["sh", "-c", "/) {
        c = r
        sub(/^execve\("[^"]*\/sh", \["sh", "-c", "/, "", c)
        if (match(c, /"\], 0x[0-9a-f]+ \/\*/)) c = substr(c, 1, RSTART - 1)
        start[$1] = $2
        cmd[$1] = unescape(c)
    } else if (r ~ /^\+\+\+ (exited|killed)/) {
        end[$1] = $2
    }
}

END {
    for (p in start) printf "%s\t%s\t%s\t%s\n", start[p], end[p], kidcwd[p], cmd[p]
}
