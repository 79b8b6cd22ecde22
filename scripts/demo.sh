#!/usr/bin/env bash
# The main job, as an operator does it: sets up the machine (packages,
# build), then, inside a throwaway sandbox root, installs the two commands,
# makes a demo old image in /tftpboot/image and the tree wanted for the new
# image, builds the bundle with makeKestroBundle, applies it with
# applyKestro, and shows the console, the log's record of the run, the
# status stanza, the new image with its checksum record and how the applied
# tree compares with the wanted one.  The host is left as it was.  Run as
# root on Debian 12.
set -euo pipefail

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
bash scripts/setup.sh

share=$(mktemp -d /tmp/dm-demo.XXXXXX)
trap 'rm -rf "$share"' EXIT

cat >"$share/demo.sh" <<'DEMO'
set -euo pipefail
echo "== installing the commands (cmake --install) into the throwaway root"
cmake --install "$DM_BINARY_DIR" --prefix /usr >/dev/null

echo "== the old tree and its image /tftpboot/image/pos-2.1-20060105.gz (ext3, gzipped)"
old=/tmp/old wanted=/tmp/wanted
show() { find "$1" -mindepth 1 \( -type l -printf '    %M %u:%g %P -> %l\n' \) -o -printf '    %M %u:%g %P\n' | sort -k3; }
mkdir -p $old/etc $old/usr/bin $old/usr/lib/pos $old/var/log $old/tmp /tftpboot/image /tmp/mnt
echo "127.0.0.1 localhost" >$old/etc/hosts
echo "store=0042" >$old/etc/pos.conf
printf 'pos application 2.1\n' >$old/usr/bin/posapp
printf 'receipt layout 2.1\n' >$old/usr/lib/pos/receipt.tpl
printf 'old driver\n' >$old/usr/lib/pos/printer-legacy.so
ln -s posapp $old/usr/bin/pos
chmod 755 $old/usr/bin/posapp; chmod 1777 $old/tmp
dd if=/dev/zero of=/tmp/old.img bs=1M count=16 status=none
mke2fs -q -N 512 -F -j /tmp/old.img
mount -o loop /tmp/old.img /tmp/mnt && cp -a $old/. /tmp/mnt && umount /tmp/mnt
gzip -c /tmp/old.img >/tftpboot/image/pos-2.1-20060105.gz
show $old

echo "== the wanted tree: a file changed, one removed, two added, an owner and modes fixed"
cp -a $old $wanted
printf 'pos application 2.2\n' >$wanted/usr/bin/posapp
rm $wanted/usr/lib/pos/printer-legacy.so
printf 'new driver\n' >"$wanted/usr/lib/pos/printer driver.so"
printf 'scale support\n' >$wanted/usr/lib/pos/scale.so
chown 500:100 $wanted/var/log; chmod 4755 $wanted/usr/bin/posapp; chmod 600 $wanted/etc/pos.conf
show $wanted

echo
echo "== running: makeKestroBundle -M -o /var/maint/downloads/pos-2.2.tar \\"
echo "       /tftpboot/image/pos-2.1-20060105.gz /tmp/wanted pos-2.2-20060301.gz"
mkdir -p /var/maint/downloads
makeKestroBundle -M -o /var/maint/downloads/pos-2.2.tar /tftpboot/image/pos-2.1-20060105.gz \
    $wanted pos-2.2-20060301.gz </dev/null
tar -tvf /var/maint/downloads/pos-2.2.tar

echo
echo "== running: applyKestro -M pos-2.2"
cd /root
status=0
applyKestro -M pos-2.2 </dev/null || status=$?
echo "== exit status: $status"
echo
echo "== /var/log/maint/kestro.log"
cat /var/log/maint/kestro.log
echo
echo "== /var/maint/clientinstall.bundles"
cat /var/maint/clientinstall.bundles
echo
echo "== /tftpboot/image"
ls -l /tftpboot/image
echo
echo "== /tftpboot/image/pos-2.2-20060301.md5"
cat /tftpboot/image/pos-2.2-20060301.md5
echo "== md5sum of the uncompressed new image"
gunzip -c /tftpboot/image/pos-2.2-20060301.gz >/tmp/new.img
md5sum </tmp/new.img

# Type, mode and owner of each entry, the size of each file and the target
# of each link; then the contents.
listing() {
    cd "$1" && find . -path ./lost+found -prune -o -type d -printf '%P %y %m %U:%G\n' \
        -o -printf '%P %y %m %U:%G %s %l\n' | sort
}
mount -r -o loop /tmp/new.img /tmp/mnt
if diff <(listing $wanted) <(listing /tmp/mnt) >/tmp/differences &&
    diff -r --no-dereference -x lost+found $wanted /tmp/mnt >>/tmp/differences; then
    echo "== the applied tree equals the wanted tree (lost+found aside):" \
        "$(listing $wanted | wc -l) entries, owners, modes, links and contents"
else
    echo "== the applied tree differs from the wanted tree:"; cat /tmp/differences; status=1
fi
umount /tmp/mnt
exit "$status"
DEMO

DM_BINARY_DIR=$(pwd)/build bash tests/e2e/root.sh -r 2.3.1 "$share" bash /share/demo.sh
