#!/usr/bin/env bash
# The rollout scenario: deploy/ansible's playbook, real Ansible over real
# ssh, rolls the plain apply fixture out to three store servers, each a
# throwaway root (root.sh) with its own /var/maint, /tftpboot/image and sshd
# on 127.0.0.1, reached with a key made for the test, from a control root;
# what it sees is compared with rollout.expect.  Exit 77 (1 under
# DELTAMAINT_REQUIRE_E2E=1) with a reason when it cannot run here.
#   rollout.sh --server PORT | --control PORT...   the parts run in the roots
set -uo pipefail
self=$(readlink -f "$0")
e2e=${self%/*}
src=${e2e%/tests/e2e}
build=${DM_BINARY_DIR:-$src/build}
fixture=$build/fixtures/apply/plain
SSH_OPTS="-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"

# Ends the processes of this root that left its session (ssh sessions,
# detached jobs): nothing outlives the root.
sweep() {
    local ns pid psid sid
    ns=$(readlink /proc/self/ns/mnt) && read -r sid < <(ps -o sid= $$)
    ps -eo pid=,sid= | while read -r pid psid; do
        [ "$psid" != "$sid" ] && [ "$(readlink "/proc/$pid/ns/mnt")" = "$ns" ] && kill -KILL "$pid"
    done 2>/dev/null
}

server() {
    readlink /proc/self/ns/mnt >/share/ns
    mkdir -p /tftpboot/image /root/.ssh /run/sshd && chmod 700 /root/.ssh &&
        cp "$fixture"/pos-* /tftpboot/image/ &&
        install -m 755 "$build/applyKestro" "$build/status/kestroStatus" /usr/sbin/ &&
        install -m 600 /share/key.pub /root/.ssh/authorized_keys && ssh-keygen -q -A || exit 1
    /usr/sbin/sshd -D -e -o "ListenAddress=127.0.0.1:$1" -o UsePAM=no -o PasswordAuthentication=no \
        -o PermitRootLogin=prohibit-password 2>/share/sshd.log & sshd=$!
    until (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; do sleep 0.1; done
    touch /share/ready
    until [ -e /share/stop ]; do sleep 0.2; done
    kill "$sshd"
    sweep
}

# On the control machine: store N's shell, its fixed paths' fingerprint,
# and its state as kestroStatus gives it.
on() { local n=$1; shift; ssh $SSH_OPTS -o ControlMaster=no -i /share/key -p "${ports[n]}" root@127.0.0.1 "$@"; }
fingerprints() {
    for n in 1 2 3; do on "$n" 'find /var/maint /var/log/maint /tftpboot -printf "%p %s %T@\n" | sort | md5sum'; done 2>/dev/null | md5sum
}
stores() {
    for n in 1 2 3; do
        echo "store$n: $(on "$n" "kestroStatus $1; echo exit \$?; test -d /var/maint || echo no /var/maint;
            echo stanzas \$(cat /var/maint/clientinstall.bundles 2>/dev/null | grep -c {); ls /tftpboot/image" | xargs)"
    done
}
# playbook NAME ARGS...: a rollout of b.tar; its exit status, the failure
# messages, each store's recap counts and the summary.
playbook() {
    echo "== $1"
    PYTHONDONTWRITEBYTECODE=1 ANSIBLE_CONFIG=$src/deploy/ansible/ansible.cfg ANSIBLE_NOCOLOR=1 ANSIBLE_SSH_ARGS="$SSH_OPTS -o ControlMaster=auto -o ControlPersist=60s" \
        ansible-playbook -i /tmp/inventory.ini "$src/deploy/ansible/rollout.yml" \
        -e kestro_bundle=/share/b.tar -e kestro_wave_size=1 "${@:2}" >"/share/$1.log" 2>&1
    echo "exit $?"
    grep '^fatal:' "/share/$1.log"
    grep -o '^store[0-9].*changed=[0-9]*' "/share/$1.log" | awk '{ print $1, $NF }'
    sed -n '/KESTRO SUMMARY/,$p' "/share/$1.log" | tail -n +2 | xargs -L1
}

control() {
    readlink /proc/self/ns/mnt >/share/ns
    ports=([1]=$1 [2]=$2 [3]=$3)
    printf '%s\n' "[store_servers]" "store1 ansible_port=$1" "store2 ansible_port=$2" "store3 ansible_port=$3" \
        "[store_servers:vars]" ansible_host=127.0.0.1 ansible_user=root ansible_ssh_private_key_file=/share/key \
        ansible_python_interpreter=/usr/bin/python3 >/tmp/inventory.ini
    cp "$fixture/b.tar" /share/b.tar
    local before=$(fingerprints)
    playbook check-mode --check
    [ "$(fingerprints)" = "$before" ] && echo "nothing changed" || echo "stores changed"
    on 2 mv /tftpboot/image/pos-2.1-20060105 /root/
    playbook first-waves
    stores b
    on 2 mv /root/pos-2.1-20060105 /tftpboot/image/
    playbook after-the-fix
    stores b
    # A signed bundle: the keyrings of stores 1 and 3 hold its key, store 2's
    # another one.
    cp /share/b.tar /share/s.tar
    for key in signing other; do openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "/tmp/$key.key"; done
    openssl dgst -sha256 -sign /tmp/signing.key -out /share/s.tar.sig /share/s.tar
    for n in 1 2 3; do
        openssl pkey -in "/tmp/$([ "$n" = 2 ] && echo other || echo signing).key" -pubout |
            on "$n" 'install -d -m 755 /etc/maint/keys && cat >/etc/maint/keys/build.pem'
    done
    playbook signed -e kestro_bundle=/share/s.tar
    stores s
    echo "== a stanza file that cannot be read"
    on 3 'rm /var/maint/clientinstall.bundles && mkdir /var/maint/clientinstall.bundles && kestroStatus; echo "exit $?"' 2>&1
    sweep
}

# The host's own state that the scenario must leave as it found it.
host_state() {
    ls -d /var/maint /var/log/maint /tftpboot /tmp/maint_zor /etc/maint 2>&1
    find /root/.ssh /etc/ssh -printf '%p %s %T@\n' 2>&1 | sort | md5sum
    ss -ltnH | awk '{ print $4 }' | sort
}
# Processes still in the mount namespace of a store or the control machine.
leftovers() {
    for p in /proc/[0-9]*; do
        grep -qxF "$(readlink "$p/ns/mnt")" "$t"/s[0-2]/ns "$t/c/ns" && echo "left running: $(tr '\0' ' ' <"$p/cmdline")"
    done 2>/dev/null
}
cannot() { echo "rollout.sh: cannot run: $*" >&2; [ "${DELTAMAINT_REQUIRE_E2E:-}" = 1 ] && exit 1; exit 77; }

stop_stores() { local d; for d in "$t"/s[0-2]/; do touch "${d}stop"; done; }

scenario() {
    local n before ports=() servers=()
    for n in ansible-playbook sshd ssh ssh-keygen ss openssl; do
        command -v "$n" >/dev/null || cannot "$n is not installed (scripts/setup.sh installs it)"
    done
    bash "$e2e/root.sh" --check || cannot "no throwaway root here"
    [ -s "$fixture/b.tar" ] || cannot "no apply fixtures in $fixture (test e2e_fixtures makes them)"
    before=$(host_state)
    t=$(mktemp -d /tmp/dm-rollout.XXXXXX) || exit 1
    trap 'stop_stores; wait; rm -rf "$t"' EXIT
    ssh-keygen -q -t ed25519 -N "" -C rollout-test -f "$t/key" || exit 1
    for port in $(shuf -i 20000-60000 -n 40); do
        [ -z "$(ss -ltnH "sport = :$port")" ] && ports+=("$port")
        [ ${#ports[@]} = 3 ] && break
    done
    for n in 0 1 2; do
        mkdir "$t/s$n" && cp "$t/key.pub" "$t/s$n/"
        bash "$e2e/root.sh" -r 2.3.1 -t 1500 "$t/s$n" bash "$self" --server "${ports[n]}" >"$t/s$n.out" 2>&1 &
        servers+=($!)
    done
    for n in 0 1 2; do
        for _ in $(seq 600); do [ -e "$t/s$n/ready" ] && break; sleep 0.1; done
        [ -e "$t/s$n/ready" ] || { cat "$t/s$n.out" "$t/s$n/sshd.log" >&2; echo "store $n did not start" >&2; exit 1; }
    done
    mkdir "$t/c" && cp "$t/key" "$t/c/"
    bash "$e2e/root.sh" -t 1500 "$t/c" bash "$self" --control "${ports[@]}" >"$t/seen" 2>&1
    stop_stores
    wait "${servers[@]}"
    { cat "$t"/s*/.leaks "$t/c/.leaks"; leftovers; } >>"$t/seen"
    [ "$(host_state)" = "$before" ] || { echo "the host changed:"; diff <(echo "$before") <(host_state); } >>"$t/seen"
    # Dates, times and run times vary.
    sed -E -i 's#[0-9]{4}/[0-9]{2}/[0-9]{2}-[0-9:]{8}#DATE#g; s#[0-9]+:[0-9]{2}:[0-9]{2}#TIME#g' "$t/seen"
    diff -u "$e2e/rollout.expect" "$t/seen" || { tail -n +1 "$t"/c/*.log; exit 1; }
}

case "${1:-}" in
--server) server "$2" ;;
--control) control "${@:2}" ;;
*) scenario ;;
esac
