#!/usr/bin/env bash
# The one command that takes a fresh Debian 12 machine (run as root) to a
# tested build, what CI runs:
#   scripts/test.sh                  set-up (scripts/setup.sh: packages, build
#                                    in ./build), then every stage below
#   scripts/test.sh suite|memcheck   set-up, then that stage
#   scripts/test.sh fuzz [SECONDS]   set-up, then each fuzzer SECONDS (60)
# suite: every unit and end-to-end test with ctest; an end-to-end test that
#   skips fails.
# memcheck: an ASan+UBSan build in build-asan/ runs the unit tests, the
#   library tests in a root and a few apply runs (any report ends a program
#   with status 86); valgrind runs the unit tests and one apply run of
#   build/ (reports in build/memcheck/).
# fuzz: the libFuzzer targets of fuzz/ in build-fuzz/, two at a time, from
#   their seeds and the tests' data; a crash, leak or timeout fails (inputs
#   kept in build-fuzz/artifacts/).
# Every throwaway root and share lives in one directory of this run
# ($DM_ROOTS); afterwards nothing may be mounted or changed in the tool's
# fixed paths, and no loop device may be backed by a file of this run.
set -euo pipefail
cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
repo=$(pwd)
stage=${1:-all}
[ "$(id -u)" = 0 ] || { echo "scripts/test.sh: run it as root (the tests mount loop images)" >&2; exit 1; }

fixed='/(tftpboot|var/maint|var/log/maint|tmp/maint|etc/inittab|etc/logrotate\.d|etc/maint|root/\.rpmdb|usr)'
host() {
    awk '{ print "mount", $2 }' /proc/self/mounts | grep -E "^mount ($fixed|/tmp/dm-|$repo)" | sort || true
    for p in /var/maint /var/log/maint /tftpboot /tmp/maint_zor /tmp/maint[0-9]*.tmp /etc/inittab \
        /etc/logrotate.d /etc/maint /root/.rpmdb; do
        [ -e "$p" ] || [ -L "$p" ] || { echo "$p absent"; continue; }
        find "$p" -xdev -printf '%p %y %m %U:%G %s %T@\n' | sort
    done
}
fail() { echo "FAIL: $*" >&2; failed=1; }
failed=0
before=$(host)
export DM_ROOTS
DM_ROOTS=$(mktemp -d /tmp/dm-suite.XXXXXX)
bash scripts/setup.sh
export DELTAMAINT_REQUIRE_E2E=1

suite() {
    echo "== unit and end-to-end tests"
    (cd build && ctest --output-on-failure -j2 | tee ctest.log) || fail "ctest"
    local e2e skipped
    e2e=$(cd build && ctest -N -L e2e | sed -n 's/^ *Test *#[0-9]*: //p')
    [ -n "$e2e" ] || fail "ctest lists no end-to-end test"
    skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' build/ctest.log | grep -Fx -f <(echo "$e2e") || true)
    [ -z "$skipped" ] || fail "end-to-end tests skipped: $skipped"
}

memcheck() {
    echo "== ASan+UBSan build in build-asan"
    cmake -S . -B build-asan -DDELTAMAINT_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build-asan -j2 --target unit_tests e2e_tests library_tests
    local pick='^(e2e_fixtures|library_in_root|(Apply|Trouble)/Runs.Run/(PlainExt2Image|GzippedExt3Image|NoMaintData))( |$)'
    [ "$(cd build-asan && ctest -N -R "$pick" | grep -c 'Test *#')" = 5 ] || fail "ASan: not the 5 runs of $pick"
    (cd build-asan && ctest -j2 --output-on-failure -L unit && ctest -j2 --output-on-failure -R "$pick") || fail "ASan+UBSan"
    echo "== valgrind on build/"
    local vg=(valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99
        --child-silent-after-fork=yes) log=build/memcheck
    rm -rf "$log" && mkdir -p "$log"
    "${vg[@]}" --log-file="$log/unit.log" build/tests/unit/unit_tests >"$log/unit.out" 2>&1 || fail "unit tests under valgrind: $log/"
    DM_TOOL_WRAPPER="${vg[*]} --log-file=$repo/$log/apply-%p.log" build/tests/e2e_tests \
        --gtest_filter=Apply/Runs.Run/PlainExt2Image >"$log/apply.out" 2>&1 || fail "apply run under valgrind: $log/"
    grep -h 'ERROR SUMMARY' "$log"/*.log || true
    grep -q 'ERROR SUMMARY: 0 errors' "$log"/apply-*.log || fail "no valgrind report of the apply run"
}

fuzz() {
    local b=$repo/build-fuzz seconds=${1:-60} pair name len i pids names
    echo "== fuzzers in build-fuzz, $seconds s each"
    cmake -S fuzz -B "$b" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$b" -j2
    rm -rf "$b/seeds" "$b/artifacts" && mkdir -p "$b/seeds/twreport" "$b/seeds/sedpattern" "$b/artifacts"
    cp tests/data/twreports/* "$b/seeds/twreport/"
    find tests/data/inittab -type f ! -name README -exec cat {} + | sort -u |
        awk -v d="$b/seeds/sedpattern" '{ f = d "/line" NR; printf "%s", $0 >f; close(f) }'
    for pair in "maintdata:4096 twreport:16384" "stanzas:8192 sedpattern:2048"; do
        pids=() names=()
        for name in $pair; do
            len=${name#*:} name=${name%:*}
            mkdir -p "$b/corpus/$name" "$b/seeds/$name"
            ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
                "$b/fuzz_$name" -max_total_time="$seconds" -timeout=10 -max_len="$len" -rss_limit_mb=2048 \
                -artifact_prefix="$b/artifacts/$name-" "$b/corpus/$name" "fuzz/seeds/$name" "$b/seeds/$name" \
                >"$b/$name.log" 2>&1 &
            pids+=($!) names+=("$name")
        done
        for i in 0 1; do
            wait "${pids[i]}" || fail "fuzz_${names[i]}: see $b/${names[i]}.log"
            rm -rf "/tmp/dm-fuzz-${pids[i]}-"*  # the stanza fuzzer's directory outlives a crash
        done
    done
    grep -H '^Done ' "$b"/*.log || true
    [ -z "$(ls -A "$b/artifacts")" ] || fail "fuzzer findings in $b/artifacts"
}

case $stage in
all) suite; memcheck; fuzz 60 ;;
suite | memcheck) "$stage" ;;
fuzz) fuzz "${2:-60}" ;;
*) echo "usage: scripts/test.sh [suite|memcheck|fuzz [SECONDS]]" >&2; exit 2 ;;
esac

echo "== the host"
[ "$before" = "$(host)" ] || { fail "the tests changed the host:"; diff <(echo "$before") <(host) >&2 || true; }
leaks=$(losetup -nl -O NAME,BACK-FILE | awk -v r="$DM_ROOTS/" 'index($2, r) == 1')
while read -r f; do leaks+=$(losetup -j "$f"); done < <(find build*/fixtures -type f -name 'pos-*' 2>/dev/null)
[ -z "$leaks" ] || fail "loop devices backed by files of the tests: $leaks"
rmdir "$DM_ROOTS" || fail "roots or shares left in $DM_ROOTS: $(ls "$DM_ROOTS")"
[ "$failed" = 0 ] || exit 1
echo "== all tests passed; the host is unchanged"
