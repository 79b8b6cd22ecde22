#!/usr/bin/env bash
# Memory checks of the library and the tool (run as root: the apply runs
# mount images inside test sandboxes).
#
#   scripts/memcheck.sh          the CI set:
#     1. an ASan+UBSan build in build-asan/ (-DDELTAMAINT_SANITIZE=ON) runs
#        the unit tests, the sandboxed library tests and three whole apply
#        runs (a plain image, a gzipped image, a run that fails);
#     2. valgrind memcheck, on the plain build in build/, runs the unit
#        tests and one whole apply run (the tool under valgrind inside its
#        sandbox, through DM_TOOL_WRAPPER).
#   scripts/memcheck.sh --all    step 1 with the whole test suite instead of
#                                the CI set, then step 2.
#
# Every program of the ASan build ends with status 86 on any sanitizer
# report, leaks included (cmake/sanitize_defaults.cpp), so the test that
# ran it fails also when the program is the tool inside a sandbox.
# valgrind counts invalid accesses and definitely or indirectly lost blocks
# as errors; its reports are kept in build/memcheck/.
#
# Environment: DM_ASAN_BUILD and DM_PLAIN_BUILD override the two build
# directories.
set -euo pipefail

cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.."
repo=$(pwd)
asan_build=${DM_ASAN_BUILD:-$repo/build-asan}
plain_build=${DM_PLAIN_BUILD:-$repo/build}
all=0
case "${1:-}" in
    "") ;;
    --all) all=1 ;;
    *) echo "usage: scripts/memcheck.sh [--all]" >&2; exit 2 ;;
esac
command -v valgrind >/dev/null || { echo "scripts/memcheck.sh: valgrind is not installed" >&2; exit 1; }

# The apply runs of the CI set, by test name.
apply_runs='e2e_fixtures|E2E\.PlainExt2Image|E2E\.GzippedExt3Image|Apply/Rows\.Run/NoMaintData'
ci_set="^(library_in_root|$apply_runs)\$"
failed=0

# Runs ctest in the ASan build with the given selection; fails on a failed
# or skipped test, or when the selection is smaller than `expected` tests.
asan_ctest() {
    local what=$1 expected=$2
    shift 2
    local log=$asan_build/memcheck-$what.log
    local count
    count=$(cd "$asan_build" && ctest -N "$@" | sed -n 's/^Total Tests: //p')
    if [ "${count:-0}" -lt "$expected" ]; then
        echo "FAIL: the ASan build has $count tests for $what, expected at least $expected" >&2
        failed=1
        return
    fi
    local status=0
    (cd "$asan_build" && ctest --output-on-failure -j2 "$@") >"$log" 2>&1 || status=$?
    tail -3 "$log"
    if [ "$status" != 0 ]; then
        echo "FAIL: ASan+UBSan $what (ctest status $status):" >&2
        grep -E '(Failed|Not Run|Timeout|Exception)' "$log" >&2 || true
        grep -E -A12 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$log" | head -60 >&2 || true
        failed=1
    fi
    if grep -q '(Skipped)$' "$log"; then
        echo "FAIL: tests were skipped in the ASan build ($what):" >&2
        grep '(Skipped)$' "$log" >&2
        failed=1
    fi
}

echo "== ASan+UBSan build in $asan_build"
start=$(date +%s)
cmake -S . -B "$asan_build" -DDELTAMAINT_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$asan_build" -j2
echo "   built in $(($(date +%s) - start)) s"
start=$(date +%s)
if [ "$all" = 1 ]; then
    echo "== the whole test suite under ASan+UBSan"
    asan_ctest all 1
else
    echo "== unit tests under ASan+UBSan"
    asan_ctest unit 1 -L unit
    echo "== sandboxed library tests and apply runs under ASan+UBSan"
    asan_ctest sandboxed 4 -R "$ci_set"
fi
echo "   ran in $(($(date +%s) - start)) s"

echo "== valgrind memcheck on the plain build in $plain_build"
start=$(date +%s)
cmake -S . -B "$plain_build" >/dev/null
cmake --build "$plain_build" -j2
reports=$plain_build/memcheck
rm -rf "$reports"
mkdir -p "$reports"
valgrind=(valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect
          --error-exitcode=99 --child-silent-after-fork=yes)

status=0
"${valgrind[@]}" --log-file="$reports/unit_tests.log" "$plain_build/tests/unit/unit_tests" \
    >"$reports/unit_tests.out" 2>&1 || status=$?
if [ "$status" != 0 ]; then
    echo "FAIL: unit tests under valgrind (status $status); see $reports/unit_tests.log" >&2
    tail -30 "$reports/unit_tests.out" >&2
    failed=1
fi
grep -h 'ERROR SUMMARY' "$reports/unit_tests.log" | sed 's/^==[0-9]*== /   unit tests: /'

# One whole apply run, the tool under valgrind in its sandbox; the build
# directory is bound into the sandbox, so the report lands here.
status=0
DM_TOOL_WRAPPER="${valgrind[*]} --log-file=$reports/apply-%p.log" \
    "$plain_build/tests/e2e_tests" --gtest_filter=E2E.PlainExt2Image \
    >"$reports/apply.out" 2>&1 || status=$?
if [ "$status" != 0 ] || ! grep -q '^\[  PASSED  \] 1 test' "$reports/apply.out"; then
    echo "FAIL: the apply run under valgrind (status $status); see $reports/" >&2
    tail -30 "$reports/apply.out" >&2
    failed=1
fi
shopt -s nullglob
apply_logs=("$reports"/apply-*.log)
shopt -u nullglob
if [ "${#apply_logs[@]}" = 0 ] || ! grep -q 'ERROR SUMMARY: 0 errors' "${apply_logs[@]}"; then
    echo "FAIL: no valgrind report of the apply run in $reports" >&2
    failed=1
fi
for log in "${apply_logs[@]}"; do
    if grep -q 'ERROR SUMMARY: [1-9]' "$log"; then
        echo "FAIL: valgrind found errors in the apply run: $log" >&2
        failed=1
    fi
done
grep -h 'ERROR SUMMARY' "${apply_logs[@]}" /dev/null | sed 's/^==[0-9]*== /   apply run: /'
echo "   valgrind took $(($(date +%s) - start)) s"

if [ "$failed" != 0 ]; then
    exit 1
fi
echo "== no sanitizer or valgrind finding"
