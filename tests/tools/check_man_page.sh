#!/usr/bin/env bash
# Checks that a program's man page describes every long option its --help lists.
#   check_man_page.sh <program> <man page>
set -euo pipefail
program=$1 page=$2
options=$("$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "FAIL: $program --help lists no options" >&2; exit 1; }
# In roff the dashes of an option are written \-\-.
text=$(sed 's/\\-/-/g' "$page")
missing=0
for option in $options; do
  if ! grep -q -- "$option" <<<"$text"; then
    echo "FAIL: $page does not describe $option" >&2
    missing=1
  fi
done
[ $missing -eq 0 ] && echo "$(basename "$page") describes all $(wc -w <<<"$options") options of --help"
exit $missing
