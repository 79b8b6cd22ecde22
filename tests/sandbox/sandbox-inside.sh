#!/usr/bin/env bash
# Last stage of sandbox.sh, run as root inside the sandbox's root: installs
# the rpm stand-in when asked, runs the command in its own process group with
# stdin from /dev/null (under timeout(1) when asked), ends whatever the command
# left running, then writes the leak report and clears the leaks.
# Exits with the command's status.
#
# Arguments: COMMAND [ARGS...]
# Environment from sandbox-root.sh: SB_HAVE_SHARE, SB_SOURCE, SB_BUILD,
# SB_RPM, SB_TIMEOUT, SB_DEVICES.
set -uo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)

if [ "$SB_RPM" != none ]; then
    if ! bash "$here/rpm-standin.sh" "$SB_RPM"; then
        echo "sandbox.sh: cannot install the rpm stand-in tripwire $SB_RPM" >&2
        exit 125
    fi
fi

report=-
if [ "$SB_HAVE_SHARE" = 1 ]; then
    cd /share
    report=/share/.sandbox-leaks
else
    cd /
fi

# The command's environment is the sandbox's, without this harness's own.
export -n SB_HAVE_SHARE SB_SOURCE SB_BUILD SB_RPM SB_TIMEOUT SB_DEVICES

run=("$@")
if [ -n "$SB_TIMEOUT" ]; then
    run=(timeout -k 10 "$SB_TIMEOUT" "$@")
fi

# setsid makes the command the leader of a new process group, so a signal
# to this script reaches the whole command and nothing is left behind.
setsid "${run[@]}" </dev/null &
child=$!
trap 'kill -TERM -- "-$child" 2>/dev/null || true' TERM INT HUP
# wait's stderr is muted: bash would add a "Killed" notice of its own to
# the command's output when the command dies of a signal.
status=0
wait "$child" 2>/dev/null || status=$?
# A trapped signal interrupts wait; wait again for the command's own status.
while kill -0 "$child" 2>/dev/null; do
    status=0
    wait "$child" 2>/dev/null || status=$?
done
trap - TERM INT HUP
kill -KILL -- "-$child" 2>/dev/null || true

bash "$here/sandbox-leaks.sh" "$report" $SB_DEVICES
exit "$status"
