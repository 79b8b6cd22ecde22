# builder-labels.awk - the row of the builder's time table a command line of
# makeKestroBundle belongs to (used by table.sh, with builder-commands.awk's
# lines in command order). The first checker database is the old tree's,
# the second the expected image's.
function blabel(cmd) {
    if (cmd ~ /^\/usr\/bin\/(gunzip|md5sum) / || cmd ~ /^\/sbin\/dumpe2fs /) return "old image: checksum, facts (md5sum, dumpe2fs)"
    if (cmd ~ /twadmin -m G /) return "checker keys (twadmin -m G)"
    if (cmd ~ /twadmin /) return "checker configuration and policies (twadmin -m F, -m P)"
    if (cmd ~ /tripwire --init /) return (++inits == 1) ? "database of the old tree (tripwire --init)" : "database of the expected image (tripwire --init)"
    if (cmd ~ /tripwire -m c /) return (inits < 2) ? "check of the new tree (tripwire -m c)" : "check of the expected image (tripwire -m c, --no-verify only)"
    if (cmd ~ /twprint /) return "twprint (the report; the database's object count)"
    if (cmd ~ /^\/bin\/tar --numeric-owner -cjpf /) return "payload (tar -cjpf)"
    if (cmd ~ /^\/bin\/dd / || cmd ~ /^\/sbin\/(mke2fs|tune2fs) /) return "expected image file (dd, mke2fs, tune2fs)"
    if (cmd ~ /^\/bin\/cp -a /) return "expected image: cp -a of the old tree"
    if (cmd ~ /maint_cmd_bash[12] >/) return "expected image: the two scripts"
    if (cmd ~ /^\/bin\/tar --same-owner /) return "expected image: payload tar -xpjf"
    if (cmd ~ /applyKestro /) return "verifying apply run (applyKestro)"
    if (cmd ~ /rpm/) return "verification: rpm stand-in"
    if (cmd ~ /^\/bin\/cp .*vimage/ || cmd ~ /^\/bin\/cp .*vtmp/) return "verification: copies of the old image and the bundle"
    if (cmd ~ /^\/bin\/tar /) return "packing control.tar.bz2 and the bundle"
    return "mounts, private roots and small commands"
}
{ ms[blabel($3)] += ($2 - $1) * 1000; all += ($2 - $1) * 1000 }
END {
    for (l in ms) printf "%s\t%.0f\n", l, ms[l]
    printf "all commands\t%.0f\n", all
}
