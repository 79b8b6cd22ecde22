# make-baseline.awk - turns the commands of one traced apply run (the
# output of trace-commands.awk) into a plain bash script that runs the same
# command lines in the same order and directories, with no logging: the
# floor an apply run cannot go below. The work the tool does without a
# command is done with shell builtins where one exists: the working
# directories, the policy text for twadmin, the rename of a plain image
# and the checksum record.
#
# Variables: pid (the traced run's process id, replaced by the script's own
# "$$"), kind (gz or plain), record (the checksum record's fields after the
# checksum, e.g. "32768 8192").

function own_pid(s,    out, i, n, before, after) {
    out = ""
    n = length(pid)
    while ((i = index(s, pid)) > 0) {
        before = substr(s, i - 1, 1)
        after = substr(s, i + n, 1)
        if ((before == "t" || before == ".") && after !~ /[0-9]/) {
            out = out substr(s, 1, i - 1) "$$"
        } else {
            out = out substr(s, 1, i + n - 1)
        }
        s = substr(s, i + n)
    }
    return out s
}

BEGIN {
    FS = "\t"
    print "#!/bin/bash"
    print "# The command lines of one apply run, in order, without logging."
    print "mkdir -p /tmp/maint_zor/maint$$/oldimage /tftpboot/image/zor_image"
}

{
    cwd = own_pid($3)
    cmd = own_pid($4)
    if (cmd ~ /twadmin -m [GF] /) {
        print "make-baseline.awk: the traced run made keys or a configuration; trace a later run" > "/dev/stderr"
        failed = 1
        exit 1
    }
    if (cwd != "" && cwd != lastcwd) {
        print "cd " cwd
        lastcwd = cwd
    }
    if (cmd ~ /twadmin -m P /) {
        p = cmd
        sub(/.* -e /, "", p)
        sub(/ .*/, "", p)
        print "printf '%s' '/tftpboot/image/zor_image -> pugsM ;' >" p
    }
    if (cmd ~ /^chmod \+x .*\.md5$/ && capture != "") {
        rec = cmd
        sub(/^chmod \+x /, "", rec)
        print "read -r sum rest <" capture
        print "printf '%s   %s\\n' \"$sum\" '" record "' >" rec
        if (kind == "gz") print "rm -f " newimage
        capture = ""
    }
    print cmd
    if (cmd ~ /^md5sum [^ ]*\.ImageInProcess 2>&1 >/) {
        newimage = cmd
        sub(/^md5sum /, "", newimage)
        sub(/ .*/, "", newimage)
        capture = cmd
        sub(/.*>/, "", capture)
        if (kind == "plain") {
            final = newimage
            sub(/\.ImageInProcess$/, "", final)
            print "mv -f " newimage " " final
        }
    }
}

END {
    if (!failed) print "exit 0"
}
