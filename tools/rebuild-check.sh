#!/usr/bin/env bash
# Rebuilds the release program from a copy of this tree (what a clone would hold, with the
# uncommitted changes) at another path, in another build folder, under another clock and time
# zone (faketime, years ahead; a zone of an odd offset), and fails unless the rebuild gives the
# same bytes as the release build (build/release/app), or as the files in DIR with --against.
# A difference is shown as offsets and octal bytes.
#
# Usage: tools/rebuild-check.sh [--against DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

against=build/release/app
while [ $# -gt 0 ]; do
  case "$1" in
    --against) against="$2"; shift 2 ;;
    *) echo "usage: tools/rebuild-check.sh [--against DIR]" >&2; exit 2 ;;
  esac
done
files=(mvupdate.exe mvupdate.exe.debug)
for file in "${files[@]}"; do
  [ -f "$against/$file" ] || { echo "rebuild-check: no $against/$file to compare with" >&2; exit 2; }
done

scratch="$(mktemp -d "${TMPDIR:-/tmp}/mvu-rebuild.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
# A deeper path than the tree's own, so a path that leaks into the program changes its bytes.
source_copy="$scratch/another/source/folder"
mkdir -p "$source_copy"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do if [ -e "$f" ]; then printf '%s\0' "$f"; fi; done |
    tar -cf - --null -T - | tar -xf - -C "$source_copy"
else
  tar -cf - --exclude=./build --exclude=./dist . | tar -xf - -C "$source_copy"
fi

clock="@2031-03-04 05:06:07"
echo "rebuild-check: rebuilding in $source_copy at $clock (Asia/Kathmandu) to compare"
(cd "$source_copy" &&
  env -u SOURCE_DATE_EPOCH TZ=Asia/Kathmandu LC_ALL=C.UTF-8 faketime -f "$clock" \
    sh -c 'cmake --preset release -B "$1" >/dev/null && cmake --build "$1" --target mvupdate >/dev/null' \
    rebuild "$scratch/build")
differ=0
for file in "${files[@]}"; do
  again="$scratch/build/app/$file"
  if cmp -s "$against/$file" "$again"; then
    echo "rebuild-check: rebuilt $file is the same: $(sha256sum "$again" | cut -d' ' -f1)"
  else
    echo "rebuild-check: rebuilt $file differs (offset, octal bytes):" >&2
    cmp -l "$against/$file" "$again" | head -20 >&2 || true
    differ=1
  fi
done
[ "$differ" = 0 ] || { echo "rebuild-check: the build is not reproducible" >&2; exit 1; }
