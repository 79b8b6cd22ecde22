#!/usr/bin/env bash
# mutation.sh - planted faults (mutants) in the product; a fixed sample must be
# caught at least as often after the tests are rewritten.
#   bash scripts/mutation.sh sample [SEED] > tests/mutants/sample.tsv
#     ~24 mutants of deltamaint/, 18 of apply/, 18 of builder/ (SEED 1 if none)
#   bash scripts/mutation.sh run tests/mutants/sample.tsv [IDS...]
#     as root: builds a copy of this checkout in build-mutants.* inside it (not
#     in /var/tmp: the builder's tests count mounts there as leftovers); if the
#     unmutated build passes, plants each mutant (or IDS), rebuilds, runs the
#     tests covering its file (library: all; driver: all but unit; builder: its
#     own), writes killed/survived/invalid (no build)/gone (line not found) to
#     $MUT_RESULTS, counts to stdout. All take hours on two cores. The copy is
#     removed after a full run unless MUT_KEEP=1; MUT_SCRATCH=DIR reuses one.
#     An interrupt stops it when the running tests end (they clean up then).
set -euo pipefail
# The tests selected by ctest label (env overridable, for suites labelled
# otherwise: the builder's tests may also be picked by a name pattern).
UNIT_LABEL=${MUT_UNIT_LABEL:-unit}
E2E_LABEL=${MUT_E2E_LABEL:-e2e}
BUILDER_NAMES=${MUT_BUILDER_NAMES:-.}
BUILDER_LABEL=${MUT_BUILDER_LABEL-builder}   # if not empty, builder tests carry it too
RESULTS=${MUT_RESULTS:-/var/tmp/mutants-$(date +%Y%m%d-%H%M%S).tsv}
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
die() { echo "mutation.sh: $*" >&2; exit 1; }

# ctest LABEL TIMEOUT [SELECTION...] in its own session, out of reach of
# the terminal's interrupt; prints the first failing test.
stage() {
    (cd "$scratch/build" && setsid -w ctest -L "$1" --timeout "$2" "${@:3}" -j2 --stop-on-failure \
        --no-tests=ignore) >"$scratch/ctest.log" 2>&1 ||
        { sed -n '/tests FAILED:/{n;s/^\s*[0-9]* - //;p;q}' "$scratch/ctest.log"; return 1; }
}
covering() {  # AREA (lib, drv or bld): the cheap tests first
    local sel=()
    [ "$1" != bld ] || sel=(-R "$BUILDER_NAMES" ${BUILDER_LABEL:+-L "$BUILDER_LABEL"})
    [ "$1" = drv ] || stage "$UNIT_LABEL" 60 "${sel[@]}" || return 1
    stage "$E2E_LABEL" 300 "${sel[@]}"
}
build() { cmake --build "$scratch/build" -j2 >"$scratch/build.log" 2>&1; }

# FILE LINE ORIGINAL MUTATED: replaces LINE, or else the one line reading ORIGINAL.
plant() {
    local at=$2
    [ "$(sed -n "${2}p" "$1")" = "$3" ] || at=$(grep -nxF -- "$3" "$1" | cut -d: -f1)
    [[ $at =~ ^[0-9]+$ ]] || return 1
    M=$4 awk -v n="$at" 'NR == n { print ENVIRON["M"]; next } 1' "$1" >"$scratch/mutant" && cp "$scratch/mutant" "$1"
}

# Puts back the file being mutated; its new time stamp makes the next build recompile it.
restore() { [ -z "${current:-}" ] || cp "$scratch/original" "$scratch/src/$current"; current=; }

run() {  # SAMPLE [IDS...]
    [ "$(id -u)" = 0 ] || die "run must be root (the end-to-end tests mount images)"
    rows=$(awk -F'\t' -v ids=" ${*:2} " 'NR > 1 && (ids == "  " || index(ids, " " $1 " "))' "$1")
    [ -n "$rows" ] || die "no such mutants in $1"
    scratch=${MUT_SCRATCH:-}
    trap restore EXIT; trap stop=1 INT TERM
    if [ -z "$scratch" ]; then
        scratch=$(mktemp -d "$repo/build-mutants.XXXXXX") && mkdir "$scratch/src"
        git -C "$repo" ls-files -z -co --exclude-standard |
            tar -C "$repo" --null -T - --ignore-failed-read -cf - | tar -C "$scratch/src" -xf -
        cmake -S "$scratch/src" -B "$scratch/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
            >"$scratch/build.log" 2>&1 || die "cmake failed: $scratch/build.log"
    fi
    echo "copy: $scratch; results: $RESULTS"
    build || die "the unmutated checkout does not build: $scratch/build.log"
    area=$(cut -f1 <<<"$rows" | sed 's/-.*//' | sort -u)  # mixed areas: all tests
    [ "$(wc -l <<<"$area")" = 1 ] || area=lib
    detail=$(covering "$area") || die "unmutated, the $area tests fail (${detail:-?}): $scratch/ctest.log"
    [ -z "${stop:-}" ] || die "interrupted"
    printf 'id\tfile\trule\toutcome\tdetail\n' >"$RESULTS"
    while IFS=$'\t' read -r -u 3 id file line rule orig mut; do
        start=$SECONDS detail=
        cp "$scratch/src/$file" "$scratch/original" && current=$file
        if ! plant "$scratch/src/$file" "$line" "$orig" "$mut"; then outcome=gone detail="no one line reads the original"
        elif ! build; then outcome=invalid detail=$(grep -m1 error "$scratch/build.log" | sed "s|$scratch/src/||" | cut -c1-200)
        elif detail=$(covering "${id%%-*}"); then outcome=survived
        else outcome=killed; fi
        restore
        [ -z "${stop:-}" ] || break
        printf '%s\t%s\t%s\t%s\t%s\n' "$id" "$file" "$rule" "$outcome" "$detail" >>"$RESULTS"
        echo "$id $outcome $((SECONDS - start))s $detail"
    done 3<<<"$rows"
    echo "mutants per area and outcome:"; cut -f1,4 "$RESULTS" | sed '1d; s/-[0-9]*//' | sort | uniq -c
    awk -F'\t' '$4 == "killed" { k++ } $4 ~ /^(killed|survived)$/ { v++ }
        END { printf "killed %d of the %d that built (%.0f%%)\n", k, v, v ? 100 * k / v : 0 }' "$RESULTS"
    [ -z "${stop:-}" ] || die "interrupted at $id, which is not recorded; the copy stays"
    [ -n "${MUT_KEEP:-}${MUT_SCRATCH:-}" ] || rm -rf --one-file-system "$scratch"
}

case "${1:-}" in
    sample) cd "$repo" && python3 scripts/mutate.py "${2:-1}" ;;
    run) [ $# -ge 2 ] || die "usage: mutation.sh run SAMPLE.tsv [IDS...]"; run "$(readlink -f "$2")" "${@:3}" ;;
    *) sed -n '2,/^set -e/{/^#/s/^# \{0,1\}//p}' "$0"; exit 2 ;;
esac
