#!/usr/bin/env bash
# Set-up shared by the demo and the tests: installs the platform and build
# packages from Debian's archive and builds the project in ./build.  Run as
# root on Debian 12.
set -euo pipefail

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."

if [ "$(id -u)" != 0 ]; then
    echo "scripts/setup.sh: must run as root (the tool and its tests mount loop images)" >&2
    exit 1
fi

# tripwire's package asks for passphrases unless the front end is
# noninteractive.
packages=(
    cmake make g++ googletest libgtest-dev libssl-dev openssl
    tripwire rpm logrotate gettext locales groff-base man-db
    tar gzip bzip2 e2fsprogs util-linux mount coreutils findutils grep sed procps
    clang libclang-rt-14-dev valgrind
    nlohmann-json3-dev ansible-core ansible-lint openssh-server openssh-client
)
export DEBIAN_FRONTEND=noninteractive
echo "== installing packages"
if ! apt-get update -q </dev/null; then
    echo "scripts/setup.sh: apt-get update failed; trying with the package lists at hand" >&2
fi
apt-get install -y -q "${packages[@]}" </dev/null

# The translation tests show the tool's console in German: generate the
# de_DE.UTF-8 locale once (a no-op when it is there).
if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
    echo "== generating the de_DE.UTF-8 locale"
    sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    locale-gen
fi

echo "== configuring and building in $(pwd)/build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
