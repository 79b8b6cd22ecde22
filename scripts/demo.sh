#!/usr/bin/env bash
# The main job on the built-in demo: sets up the machine (packages, build),
# then, inside a throwaway sandbox root, makes a demo old image in
# /tftpboot/image and a maintenance bundle for it, runs applyKestro on the
# bundle, and shows the console, the log's record of the run, the status
# stanza and the new image with its checksum record.  The host is left as
# it was.  Run as root on Debian 12.
set -euo pipefail

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
bash scripts/setup.sh

share=$(mktemp -d /tmp/dm-demo.XXXXXX)
trap 'rm -rf "$share"' EXIT

cat >"$share/demo.sh" <<'DEMO'
set -euo pipefail
echo "== making the demo old image and its bundle (tests/e2e/fixtures.sh)"
bash "$DM_SOURCE_DIR/tests/e2e/fixtures.sh" /tmp/demo
mkdir -p /tftpboot/image /var/maint/downloads
cp /tmp/demo/gz/pos-2.1-20060105.gz /tftpboot/image/
cp /tmp/demo/gz/b.tar /var/maint/downloads/pos-2.2.tar
tar -tvf /var/maint/downloads/pos-2.2.tar
echo
echo "== running: applyKestro -M pos-2.2"
cd /root
status=0
"$DM_BINARY_DIR/applyKestro" -M pos-2.2 </dev/null || status=$?
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
gunzip -c /tftpboot/image/pos-2.2-20060301.gz | md5sum
exit "$status"
DEMO

DM_BINARY_DIR=$(pwd)/build DM_APPLYKESTRO=$(pwd)/build/applyKestro \
    bash tests/e2e/root.sh -r 2.3.1 "$share" bash /share/demo.sh
