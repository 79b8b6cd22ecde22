# builder-commands.awk - the shell commands makeKestroBundle ran, from an
# `strace -f -ttt -e trace=execve,chdir,clone,clone3,fork,vfork` log given
# twice (two passes, as in trace-commands.awk). The builder's processes are
# the first pid of the log and every child of one of them that never calls
# execve (the child processes that work inside the private roots); their
# `/bin/sh -c` children are the commands. Prints, in the order they started:
#   START<TAB>END<TAB>COMMAND
# with the times of the command's execve and of its exit (seconds).

function rest_of(line) {
    sub(/^[0-9]+ +[0-9.]+ +/, "", line)
    return line
}

NR == FNR {
    if (FNR == 1) main = $1
    r = rest_of($0)
    if (r ~ /(clone|fork)/ && match(r, /= [0-9]+$/)) {
        n++
        child[n] = substr(r, RSTART + 2)
        parent[n] = $1
    } else if (r ~ /^execve\(/ && !($1 in execd)) {
        execd[$1] = 1
        if (r ~ /^execve\("[^"]*\/sh", \["sh", "-c", "/) {
            c = r
            sub(/^execve\("[^"]*\/sh", \["sh", "-c", "/, "", c)
            if (match(c, /"\], 0x[0-9a-f]+ \/\*/)) c = substr(c, 1, RSTART - 1)
            gsub(/\\"/, "\"", c)
            gsub(/\t/, " ", c)
            start[$1] = $2
            cmd[$1] = c
        }
    }
    next
}

# A parent's clone can be logged after its child's own clones: repeat
# until no builder process is added.
FNR == 1 {
    builder[main] = 1
    for (grown = 1; grown;) {
        grown = 0
        for (i = 1; i <= n; i++) {
            if (!(parent[i] in builder) || (child[i] in builder) || (child[i] in command)) continue
            if (!(child[i] in execd)) { builder[child[i]] = 1; grown = 1 }
            else if (child[i] in start) command[child[i]] = 1
        }
    }
}

($1 in command) && rest_of($0) ~ /^\+\+\+ (exited|killed)/ { end[$1] = $2 }

END {
    for (p in command) printf "%s\t%s\t%s\n", start[p], end[p], cmd[p]
}
