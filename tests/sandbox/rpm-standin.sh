#!/usr/bin/env bash
# Installs the rpm stand-in for the integrity checker into $HOME/.rpmdb:
# the files-less noarch package tripwire-VERSION-2 built from
# tests/fixtures/rpm/tripwire.rpmbuild. Runs inside the sandbox (rpmbuild and rpm
# write to $HOME). The built package is cached in $SB_BUILD/fixtures/rpm,
# under a lock so that parallel sandboxes build each version once.
#
# Arguments: VERSION
# Environment: SB_SOURCE (source tree), SB_BUILD (build directory or empty).
set -euo pipefail

version=$1
recipe=$SB_SOURCE/tests/fixtures/rpm/tripwire.rpmbuild
package=tripwire-$version-2.noarch.rpm
scratch=$(mktemp -d /tmp/dm-rpm.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

build() {
    rpmbuild -bb --quiet --define "_topdir $scratch/top" \
        --define "tw_version $version" "$recipe" >"$scratch/build.log" 2>&1 ||
        { cat "$scratch/build.log" >&2; return 1; }
    cp "$scratch/top/RPMS/noarch/$package" "$1.part"
    mv "$1.part" "$1"
}

if [ -n "$SB_BUILD" ]; then
    cache=$SB_BUILD/fixtures/rpm
    mkdir -p "$cache"
    exec 9>>"$cache/.lock"
    flock 9
    [ -s "$cache/$package" ] || build "$cache/$package"
    flock -u 9
    exec 9>&-
    file=$cache/$package
else
    file=$scratch/$package
    build "$file"
fi

# rpm -i warns on stderr that Debian does not manage packages with rpm.
rpm -i --justdb --nodeps "$file" 2>"$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; exit 1; }
