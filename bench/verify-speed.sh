#!/bin/bash
# The speed of the apply run's signature check on a 1 GiB bundle, one run,
# against sha256sum of the same file: a random file signed with a fresh
# RSA 2048 key (openssl dgst -sha256 -sign), a keyring of its public key,
# then `sha256sum` and `verify_speed` (which also writes the private copy
# the run unpacks) one after the other on the cached file; wall and CPU
# seconds of each (MB/s: 1073.7 MB over the seconds).  Everything
# lives in one temporary directory (default under /var/tmp), removed at the
# end; nothing touches the tool's fixed paths.
#
#   bash bench/verify-speed.sh VERIFY_SPEED [DIR]
set -euo pipefail
prog=$1
dir=$(mktemp -d "${2:-/var/tmp}/verify-speed.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
head -c 1G /dev/urandom >bundle.tar
openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:2048 -out key.pem 2>/dev/null
mkdir -m 755 keys && openssl pkey -in key.pem -pubout -out keys/signer.pem && chmod 644 keys/signer.pem
openssl dgst -sha256 -sign key.pem -out bundle.tar.sig bundle.tar
cat bundle.tar >/dev/null
TIMEFORMAT='sha256sum  wall %R s  cpu %U+%S s'
time sha256sum bundle.tar >/dev/null
"$prog" "$dir/keys" "$dir/bundle.tar" "$dir/copy.tar"
