#!/usr/bin/env bash
# Writes the message template of the "applyKestro" domain from the sources.
# Console messages reach the catalogue through gettext(...) and through the
# library's wrappers that translate their format argument; the keywords
# below name each wrapper and the position of that argument.  Messages that
# the sources pass through a variable or a table are listed in
# po/indirect-messages.cpp, marked with N_.
#
# Usage: make-pot.sh SOURCE_DIR OUTPUT SOURCE...
# SOURCE paths are relative to SOURCE_DIR: the sources of applyKestro, of
# makeKestroBundle and of the libraries they link (the build writes their
# list to BUILD/po/applyKestro.sources).
# The output is replaced only when something other than its creation date
# changed, so that a rebuild leaves a current template untouched.
set -euo pipefail

source_dir=$1
output=$2
shift 2
version=$(sed -n 's/^project(deltamaint VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")

keywords=(
    --keyword=gettext
    --keyword=N_
    --keyword=logAndConsole:2
    --keyword=lockFailure:1
    --keyword=imageCommand:2
    --keyword=badMaintData:1
    --keyword=bundleMissing:2
    --keyword=bbFail:1
    --keyword=bbFailWithOutput:2
    --keyword=usageError:1
    --keyword=shellValue:1
    --keyword=bbRunOrFail:3
    --keyword=bbMountAt:3
    --keyword=mountStep:1
    --keyword=runInChild:2
    --keyword=requireShellSafe:2
)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dm-pot.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cd "$source_dir"
# Sources of targets defined in subdirectories come with absolute paths:
# every location in the template is relative to the source tree.
sources=()
for s in "$@" po/indirect-messages.cpp; do sources+=("$(realpath -m --relative-to=. "$s")"); done
xgettext --language=C++ --from-code=UTF-8 "${keywords[@]}" \
    --add-comments=TRANSLATORS: --add-location=file \
    --package-name=deltamaint --package-version="${version:-0}" \
    --msgid-bugs-address="deltamaint project" \
    --output="$scratch/new.pot" "${sources[@]}"

same() {
    [ -f "$output" ] &&
        cmp -s <(grep -v '^"POT-Creation-Date:' "$output") \
               <(grep -v '^"POT-Creation-Date:' "$scratch/new.pot")
}
if ! same; then
    cp "$scratch/new.pot" "$output"
fi
