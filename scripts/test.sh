#!/usr/bin/env bash
# The one command that takes a fresh Debian 12 machine (run as root) to a
# tested build: installs the platform and build packages, builds in ./build,
# runs every test with the sandbox tests required (they fail instead of
# skipping), and checks that the tests left no trace on the host: no mounts,
# no loop devices, nothing new or changed in the tool's fixed paths.
set -euo pipefail

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
repo=$(pwd)
build=$repo/build

if [ "$(id -u)" != 0 ]; then
    echo "scripts/test.sh: must run as root (the tests mount loop images in sandboxes)" >&2
    exit 1
fi

# What the tests must not change on the host: mounts under the tool's
# paths and the tool's files and directories.
snapshot() {
    echo "-- mounts"
    awk '$2 ~ /^\/(tftpboot|var\/maint|var\/log\/maint|tmp\/maint_zor)(\/|$)/' /proc/mounts
    echo "-- files"
    local paths=(/var/maint /var/log/maint /tftpboot /tmp/maint_zor /etc/inittab
                 /etc/inittab.sv1 /etc/logrotate.d/maint /root/.rpmdb /etc/nsswitch.conf)
    shopt -s nullglob
    paths+=(/tmp/maint[0-9]*.tmp)
    shopt -u nullglob
    for path in "${paths[@]}"; do
        if [ -e "$path" ] || [ -L "$path" ]; then
            find "$path" -xdev -printf '%p %y %m %U:%G %s %T@\n' | sort
            find "$path" -xdev -type f -size -10M -exec md5sum {} + | sort
        else
            echo "$path absent"
        fi
    done
}

# Sandbox directories the tests leave behind; ones that other work on the
# machine removes meanwhile are no fault.
sandbox_dirs() {
    local dirs=()
    shopt -s nullglob
    dirs=(/tmp/dm-sandbox*)
    shopt -u nullglob
    if [ "${#dirs[@]}" -gt 0 ]; then
        printf '%s\n' "${dirs[@]}" | sort
    fi
}

# Loop devices are global: ones that other work on the machine frees while
# the tests run are no fault, a new one is.
loop_devices() {
    { losetup --list --noheadings --output NAME,BACK-FILE 2>/dev/null || true; } | sort
}

# The snapshot is taken before anything is built or run.
before=$(mktemp -d /tmp/dm-host.XXXXXX)
trap 'rm -rf "$before"' EXIT
snapshot >"$before/host.txt"
loop_devices >"$before/loops.txt"
sandbox_dirs >"$before/sandboxes.txt"

bash scripts/setup.sh
cp "$before/host.txt" "$build/host-before.txt"
cp "$before/loops.txt" "$build/loops-before.txt"
cp "$before/sandboxes.txt" "$build/sandboxes-before.txt"

echo "== running the tests"
export DELTAMAINT_REQUIRE_E2E=1
status=0
(cd "$build" && ctest --output-on-failure -j2) 2>&1 | tee "$build/ctest.log" || status=$?

snapshot >"$build/host-after.txt"
failed=0
if ! diff -u "$build/host-before.txt" "$build/host-after.txt" >"$build/host-changes.txt"; then
    echo "FAIL: the tests changed the host (mounts or the tool's paths):" >&2
    cat "$build/host-changes.txt" >&2
    failed=1
fi
loop_devices >"$build/loops-after.txt"
new_sandboxes=$(comm -13 "$build/sandboxes-before.txt" <(sandbox_dirs))
if [ -n "$new_sandboxes" ]; then
    echo "FAIL: the tests left sandbox directories behind:" >&2
    printf '%s\n' "$new_sandboxes" >&2
    failed=1
fi
new_loops=$(comm -13 "$build/loops-before.txt" "$build/loops-after.txt")
if [ -n "$new_loops" ]; then
    echo "FAIL: the tests left loop devices attached:" >&2
    printf '%s\n' "$new_loops" >&2
    failed=1
fi

# Every end-to-end test must have run: list those that ctest skipped.
e2e_tests=$(cd "$build" && ctest -N -L e2e | sed -n 's/^ *Test *#[0-9]*: //p')
if [ -z "$e2e_tests" ]; then
    echo "FAIL: ctest found no end-to-end tests" >&2
    failed=1
fi
skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$build/ctest.log")
skipped_e2e=$(grep -Fxf <(printf '%s\n' "$skipped") <<<"$e2e_tests" || true)
if [ -n "$skipped" ] && [ -n "$skipped_e2e" ]; then
    echo "FAIL: end-to-end tests were skipped:" >&2
    printf '  %s\n' $skipped_e2e >&2
    failed=1
fi

if [ "$status" != 0 ]; then
    echo "FAIL: ctest exited with status $status" >&2
    exit "$status"
fi
if [ "$failed" != 0 ]; then
    exit 1
fi

# Memory and parser safety: the unit tests, the sandboxed library tests and
# three apply runs under ASan+UBSan, the unit tests and one apply run under
# valgrind (scripts/memcheck.sh), then each fuzzer for a minute
# (scripts/fuzz.sh).  Their sandboxes must leave the host unchanged too.
echo "== memory checks and fuzzing"
bash scripts/memcheck.sh
bash scripts/fuzz.sh 60
snapshot >"$build/host-after-memcheck.txt"
if ! diff -u "$build/host-before.txt" "$build/host-after-memcheck.txt" >&2; then
    echo "FAIL: the memory checks or the fuzzers changed the host" >&2
    exit 1
fi
new_loops=$(comm -13 "$build/loops-before.txt" <(loop_devices))
if [ -n "$new_loops" ]; then
    echo "FAIL: the memory checks left loop devices attached:" >&2
    printf '%s\n' "$new_loops" >&2
    exit 1
fi

echo "== all tests passed; the host is unchanged"
