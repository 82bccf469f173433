#!/usr/bin/env bash
# The translation sources match the code: lupdate, run on the sources as the
# update_translations target runs it, changes nothing in them (no text missing,
# none left over), and every text has its translation.
# Usage: check_translations.sh <source dir> <lupdate>
set -euo pipefail
source_dir=$1 lupdate=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
for ts in "$source_dir"/translations/*.ts; do
  name=$(basename "$ts")
  options=(-silent -no-obsolete -locations none -I "$source_dir/src")
  [[ $name == tornel_en.ts ]] && options+=(-pluralonly)
  cp "$ts" "$work/$name"
  "$lupdate" "${options[@]}" "$source_dir/src" -ts "$work/$name" >/dev/null
  if ! diff -u "$ts" "$work/$name" >"$work/diff"; then
    echo "$name differs from the sources (build the update_translations target):"; head -n 20 "$work/diff"
    failures=$((failures + 1))
  fi
  if grep -q 'type="unfinished"' "$ts"; then
    echo "$name has texts without a translation"; failures=$((failures + 1))
  fi
done
((failures == 0))
