# shellcheck shell=bash
# The shell side of the end-to-end tests, sourced by every script that runs
# in a throwaway root (tests/e2e/root.sh) and by bench/: fixture helpers
# (fx_*), the helpers tests use to vary a bundle, hold a command and look at
# trees, and the builder of the apply fixtures.  Run as `fixtures.sh OUTDIR`
# inside a root, it makes OUTDIR/plain (ext2) and OUTDIR/gz (gzipped ext3),
# each with
#   pos-2.1-20060105[.gz]  an old image of the "old" tree of fixture-tree.txt
#   b.tar                  a bundle making pos-2.2-20060301[.gz] from it, its
#                          checker database made of the tree it gives
#   b.tar.expect           `listing` of that tree, built as a run builds it
#   old.md5                the old image file's checksum

FX_TMP=""
FX_MOUNTS=()
fx_die() { echo "${FX_PROG:-fixtures.sh}: $*" >&2; exit 1; }
fx_cleanup() {
    local i
    wait
    for ((i = ${#FX_MOUNTS[@]} - 1; i >= 0; i--)); do
        [ -n "${FX_MOUNTS[i]}" ] || continue
        umount "${FX_MOUNTS[i]}" 2>/dev/null || umount -l "${FX_MOUNTS[i]}"
    done
    [ -z "$FX_TMP" ] || rm -rf "$FX_TMP"
}
fx_init() {
    FX_TMP=$(mktemp -d /tmp/fixture.XXXXXX) || fx_die "no temporary directory"
    trap fx_cleanup EXIT
    trap 'exit 1' HUP INT TERM
}
# fx_run WHAT COMMAND...: quiet unless it fails.
fx_run() {
    local what=$1 log
    shift
    log=$(mktemp -p "$FX_TMP")
    "$@" >"$log" 2>&1 || { cat "$log" >&2; fx_die "$what failed"; }
}
fx_mount() { fx_run "mount $1" mount -o "loop${3:+,$3}" "$1" "$2" && FX_MOUNTS+=("$2"); }
fx_umount() { fx_run "umount $1" umount "$1" && FX_MOUNTS=("${FX_MOUNTS[@]/#$1/}"); }
# fx_make_fs IMAGE MB INODES FSTYPE: formatted as the apply run formats.
fx_make_fs() {
    fx_run dd dd if=/dev/zero of="$1" bs=1M count="$2"
    fx_run mke2fs mke2fs -N "$3" -F "$1"
    [ "$4" != ext3 ] || fx_run "tune2fs -j" tune2fs -j "$1"
}
# fx_checker_files DIR DB RULE: keys, configuration and a one-rule policy.
fx_checker_files() {
    fx_run "site key" twadmin -m G -S "$1/site.key" -Q ""
    fx_run "local key" twadmin -m G -L "$1/local.key" -P ""
    printf '%s\n' "POLFILE = $1/tw.pol" "DBFILE = $2" "REPORTFILE = $1/tw.rpt" \
        "SITEKEYFILE = $1/site.key" "LOCALKEYFILE = $1/local.key" \
        "LOOSEDIRECTORYCHECKING = true" "REPORTLEVEL = 3" >"$1/config.txt"
    fx_run "twadmin -m F" twadmin -m F -c "$1/tw.cfg" -e "$1/config.txt"
    echo "$3" >"$1/policy.txt"
    fx_run "twadmin -m P" twadmin -m P -c "$1/tw.cfg" -p "$1/tw.pol" -e "$1/policy.txt"
}
# fx_tree ROOT LIST MARK: makes LIST's entries of fixture-tree.txt under
# ROOT, MARK in the contents of files.
fx_tree() {
    local list type path owner mode arg
    while read -r list type path owner mode arg; do
        [ "$list" = "$2" ] || continue
        mkdir -p "$1/$(dirname "$path")"
        case $type in
        d) mkdir "$1/$path" ;;
        f) awk -v n="$arg" -v t="/$path$3" 'BEGIN { for (i = 1; i <= n; i++) print t, "line", i }' >"$1/$path" ;;
        h) ln "$1/$arg" "$1/$path"; continue ;;
        l) ln -s "$arg" "$1/$path"; continue ;;
        esac
        chown "$owner" "$1/$path" && chmod "$mode" "$1/$path" || fx_die "cannot make $path"
    done <"$DM_SOURCE_DIR/tests/e2e/fixture-tree.txt"
}
fx_variant() {
    local dir=$1 fstype=$2 gz=$3 t=$FX_TMP/$2 zor=/tftpboot/image/zor_image
    local old=$1/pos-2.1-20060105$3
    mkdir -p "$dir" "$t/mnt" "$t/ctl" "$t/pay" "$zor"
    fx_make_fs "$t/old.img" 16 2048 "$fstype"
    fx_mount "$t/old.img" "$t/mnt"
    fx_tree "$t/mnt" old ""
    fx_umount "$t/mnt"
    if [ -n "$gz" ]; then gzip -c "$t/old.img" >"$old"; else cp "$t/old.img" "$old"; fi
    md5sum <"$old" | cut -d' ' -f1 >"$dir/old.md5"
    printf '%s\n' "oldImageName=${old##*/}" "oldImageMD5=$(cat "$dir/old.md5")" \
        "newImageName=pos-2.2-20060301$gz" newImageSize=16 "newImageFStype=$fstype" \
        newImageInodes=2048 >"$t/ctl/maintData"
    printf '%s\n' '#!/bin/bash' 'rm -f ./usr/bin/oldtool ./etc/pos.conf ./usr/lib/pos/data/prices.db' \
        'rm -rf ./usr/lib/pos/legacy' >"$t/ctl/maint_cmd_bash1"
    printf '%s\n' '#!/bin/bash' 'chown 1234:4321 ./etc/motd' 'chgrp 100 ./usr/bin/posapp' \
        'chmod 600 ./etc/hosts' 'chmod 444 ./usr/lib/pos/libpos.so.1' \
        'chown 500:100 ./var/lib/pos/state' 'chmod 640 ./var/lib/pos/state' >"$t/ctl/maint_cmd_bash2"
    chmod 755 "$t/ctl"/maint_cmd_bash*
    fx_tree "$t/pay" new " (new)"
    awk '$1 == "new" { print $3 }' "$DM_SOURCE_DIR/tests/e2e/fixture-tree.txt" >"$t/members"
    fx_run "payload tar" tar --numeric-owner -cjpf "$t/maint.tar.bz2" -C "$t/pay" --no-recursion -T "$t/members"
    # The tree the bundle must give, built as the run builds it and checked
    # into the database at the run's mount point.
    fx_make_fs "$t/new.img" 16 2048 "$fstype"
    fx_mount "$t/old.img" "$t/mnt" ro
    fx_mount "$t/new.img" "$zor"
    cp -a "$t/mnt"/* "$zor" || fx_die "cp -a failed"
    fx_umount "$t/mnt"
    (cd "$zor" && bash "$t/ctl/maint_cmd_bash1" && tar --same-owner -xpjf "$t/maint.tar.bz2" &&
        bash "$t/ctl/maint_cmd_bash2") || fx_die "the maintenance of the expected tree failed"
    listing "$zor" >"$dir/b.tar.expect"
    fx_run "tripwire --init" tripwire --init -e -c "$FX_TMP/tw/tw.cfg" -p "$FX_TMP/tw/tw.pol"
    fx_umount "$zor"
    mv "$FX_TMP/tw.db" "$t/ctl/tw.maint_db"
    fx_run "control tar" tar -cjf "$t/control.tar.bz2" -C "$t/ctl" maint_cmd_bash1 maint_cmd_bash2 maintData tw.maint_db
    fx_run "bundle tar" tar -cf "$dir/b.tar" -C "$t" control.tar.bz2 maint.tar.bz2
}

# listing ROOT: a line per object (path, owner, mode, kind, and content
# checksum with link count, link target or device numbers), then a line per
# hard-link group ("group A|B"); the top-level lost+found is left out.
listing() (
    cd "$1" || exit 1
    find . -path ./lost+found -prune -o -print0 | sort -z | while IFS= read -r -d '' p; do
        kind=$(stat -c %F -- "$p")
        case $kind in
        regular*) more="|$(md5sum <"$p" | cut -d' ' -f1)|$(stat -c %h -- "$p")" ;;
        symbolic*) more="|$(readlink -- "$p")" ;;
        *special*) more="|$(stat -c '%t:%T' -- "$p")" ;;
        *) more="" ;;
        esac
        printf '%s|%s|%s%s\n' "$p" "$(stat -c '%u:%g %a' -- "$p")" "$kind" "$more"
    done
    find . -path ./lost+found -prune -o -type f -links +1 -printf '%i %p\n' | sort |
        awk '$1 != i { if (g) print "group " g; g = $2; i = $1; next } { g = g "|" $2 } END { if (g) print "group " g }' | sort
)
# check_image IMAGE: e2fsck -fn's status, how the image's tree differs from
# the fixture's b.tar.expect, and whether the .md5 record beside it holds
# the image's checksum, its size in 4096-byte blocks, that block size and,
# gzipped, the compressed file's size in blocks.
check_image() {
    local img=$1 rec=${1%.gz}.md5 gz=""
    if [ "${img%.gz}" != "$img" ]; then
        gunzip -c "$img" >/tmp/check.img; img=/tmp/check.img
        gz=" $(( ($(stat -c %s "$1") + 4095) / 4096 ))"
    fi
    e2fsck -fn "$img" >/dev/null 2>&1
    echo "fsck $?"
    mkdir -p /tmp/check && mount -r -o loop "$img" /tmp/check &&
        listing /tmp/check | diff /var/maint/downloads/b.tar.expect -
    umount /tmp/check
    [ "$(cat "$rec")" = "$(md5sum <"$img" | cut -c1-32)   $(($(stat -c %s "$img") / 4096)) 4096$gz" ] &&
        echo "record ok" || echo "record $(cat "$rec")"
}

# use plain|gz: a fixture's old image into /tftpboot/image, its bundle into
# /var/maint/downloads.
use() {
    local d=$DM_BINARY_DIR/fixtures/apply/$1
    mkdir -p /tftpboot/image /var/maint/downloads && rm -f /tftpboot/image/pos-* &&
        cp "$d"/pos-* /tftpboot/image/ && cp "$d"/b.tar "$d"/b.tar.expect /var/maint/downloads/
}
# edit_bundle COMMAND...: runs COMMAND in the unpacked control directory of
# /var/maint/downloads/b.tar (the payload lies one level up).
edit_bundle() {
    local d
    d=$(mktemp -d)
    (cd "$d" && tar -xf /var/maint/downloads/b.tar && mkdir c && tar -xjf control.tar.bz2 -C c &&
        rm control.tar.bz2 && cd c && "$@" && tar -cjf ../control.tar.bz2 $(ls -A) && cd .. &&
        rm -rf c && tar -cf /var/maint/downloads/b.tar $(ls -A)) && rm -rf "$d"
}
without() { edit_bundle rm -f "$1" "../$1"; }
set_data() { edit_bundle sed -i "s|^$1=.*|$1=$2|" maintData; }
drop_data() { edit_bundle sed -i "/^$1=/d" maintData; }
set_script() { edit_bundle sh -c 'printf "%s\n" "$2" >"$1" && chmod 755 "$1"' x "$1" "$2"; }
# replace_member NAME: 4 KB of text that no tool reads as an archive.
replace_member() {
    local d
    d=$(mktemp -d)
    (cd "$d" && tar -xf /var/maint/downloads/b.tar && yes corrupt | head -c 4096 >"$1" &&
        tar -cf /var/maint/downloads/b.tar $(ls -A)) && rm -rf "$d"
}
# Signed bundles, with real openssl.  make_key rsa|ec NAME: a key pair,
# /tmp/keys/NAME.key (RSA 2048 or ECDSA P-256) and its public NAME.pem;
# trust NAME...: those public keys into the keyring /etc/maint/keys; sign
# NAME: the signature of b.tar in /var/maint/downloads as an operator makes
# it; openssl_says NAME: openssl's exit status checking it with NAME.
make_key() {
    local opt=rsa_keygen_bits:2048
    [ "$1" = rsa ] || opt=ec_paramgen_curve:P-256
    mkdir -p /tmp/keys && openssl genpkey -algorithm "$1" -pkeyopt "$opt" -out "/tmp/keys/$2.key" 2>/dev/null &&
        openssl pkey -in "/tmp/keys/$2.key" -pubout -out "/tmp/keys/$2.pem"
}
trust() { mkdir -p -m 755 /etc/maint/keys && for k; do install -m 644 "/tmp/keys/$k.pem" /etc/maint/keys/; done; }
sign() { openssl dgst -sha256 -sign "/tmp/keys/$1.key" -out /var/maint/downloads/b.tar.sig /var/maint/downloads/b.tar; }
openssl_says() {
    openssl dgst -sha256 -verify "/tmp/keys/$1.pem" -signature /var/maint/downloads/b.tar.sig \
        /var/maint/downloads/b.tar >/dev/null 2>&1
    echo "openssl $?"
}
# flip_byte FILE OFFSET: one bit of the byte at OFFSET inverted.
flip_byte() {
    local b
    b=$(od -An -tu1 -j "$2" -N1 "$1") && printf "\\$(printf %o $((b ^ 1)))" |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# small_image_dir SIZE: /tftpboot/image on a tmpfs of SIZE, its files kept.
small_image_dir() {
    mkdir /tmp/keep && mv /tftpboot/image/* /tmp/keep/ &&
        mount -t tmpfs -o "size=$1" tmpfs /tftpboot/image && mv /tmp/keep/* /tftpboot/image/
}
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
# plant COMMAND: the tool will be started (RUN) by /tmp/plant, which first
# runs COMMAND as nobody with P set to its own process id, the tool's.
plant() {
    printf '#!/bin/bash\nP=$$ setpriv --reuid=nobody --regid=nogroup --clear-groups bash -c %q\nexec "$@"\n' \
        "$1" >/tmp/plant && chmod 755 /tmp/plant && RUN=/tmp/plant
}
# wait_for COMMAND...: until COMMAND succeeds, for a minute at most.
wait_for() { local i; for i in $(seq 600); do "$@" && return 0; sleep 0.1; done; return 1; }
# hold PROGRAM TEXT: the first process of PROGRAM with TEXT in its arguments
# will stop at its first open (tests/e2e/gate.cpp); held waits until one
# does and prints its id; release lets it go on.
hold() {
    "$GATE" "$1" "$2" >/tmp/gate.out 2>/dev/null &
    gate=$!
    wait_for grep -q armed /tmp/gate.out
}
held() { wait_for grep -q '^[0-9]' /tmp/gate.out && grep '^[0-9]' /tmp/gate.out; }
release() { kill -USR1 "$gate" && wait "$gate"; }
# handled PID: the tool PID has run its signal handler to the end (which
# gives HUP, INT, QUIT and TERM their default actions back) or has ended.
handled() {
    local mask
    mask=$(awk '/^SigCgt/ { print $2 }' "/proc/$1/status" 2>/dev/null)
    [ -z "$mask" ] || (( (16#$mask & 0x4007) == 0 ))
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u -o pipefail
    out=$1
    [ "$out/done" -nt "${BASH_SOURCE[0]}" ] && [ "$out/done" -nt "$DM_SOURCE_DIR/tests/e2e/fixture-tree.txt" ] && exit 0
    fx_init
    rm -rf "$out" && mkdir -p "$out" "$FX_TMP/tw" /tftpboot/image
    fx_checker_files "$FX_TMP/tw" "$FX_TMP/tw.db" "/tftpboot/image/zor_image -> pugsM ;"
    fx_variant "$out/plain" ext2 ""
    fx_variant "$out/gz" ext3 .gz
    touch "$out/done"
fi
