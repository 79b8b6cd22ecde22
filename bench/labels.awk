# labels.awk - the row of the time-per-command table a command line of the
# apply run belongs to (used by table.sh).
function label(cmd) {
    if (cmd ~ /^\/bin\/tar +-xf / || cmd ~ /^\/bin\/tar -xjf .*control\.tar\.bz2/) return "tar -xf bundle + control"
    if (cmd ~ /^\/usr\/bin\/gunzip /) return "gunzip old"
    if (cmd ~ /^md5sum .*\.ImageInProcess/) return "md5sum new"
    if (cmd ~ /^md5sum /) return "md5sum old"
    if (cmd ~ /^\/bin\/mount -r /) return "mount old (loop, ro)"
    if (cmd ~ /^\/bin\/dd /) return "dd"
    if (cmd ~ /^\/sbin\/(mke2fs|tune2fs) /) return "mke2fs + tune2fs -j"
    if (cmd ~ /^\/bin\/mount /) return "mount new (loop)"
    if (cmd ~ /^\/bin\/cp -a /) return "cp -a"
    if (cmd ~ /^\/bin\/umount [^ ]*\/oldimage >/) return "umount old"
    if (cmd ~ /maint_cmd_bash1 >/) return "maint_cmd_bash1 (1,000 rm)"
    if (cmd ~ /^\/bin\/tar --same-owner /) return "payload tar -xpjf"
    if (cmd ~ /maint_cmd_bash2 >/) return "maint_cmd_bash2 (400 chown/chmod)"
    if (cmd ~ /twadmin -m P /) return "twadmin -m P (policy)"
    if (cmd ~ /twadmin /) return "twadmin (keys, configuration)"
    if (cmd ~ /tripwire -m c /) return "tripwire -m c"
    if (cmd ~ /^\/bin\/umount \/tftpboot\/image\/zor_image +>/) return "umount new"
    if (cmd ~ /e2fsck /) return "e2fsck -f"
    if (cmd ~ /gzip -c /) return "gzip new"
    return "small commands (whoami, rpm, chmod, rm, clean-up)"
}
