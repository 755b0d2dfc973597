#!/usr/bin/env bash
# Checks that the Linux shared library's dynamic symbol table defines exactly the
# 32 exported functions, each under the library's version node, and nothing else
# (the version node itself appears as an absolute symbol of that name).
#   check_shared_library_exports.sh <nm> <libqrx7730.so> <expected list> <qrx7730.h>
set -euo pipefail
nm=$1 library=$2 list=$3 header=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/export_list.sh"

expected=$(expected_exports "$list" "$header")
symbols=$("$nm" -D --defined-only "$library" | awk 'NF >= 3 { print $2, $3 }')
# The version nodes the functions are defined under ("name@@NODE").
nodes=$(printf '%s\n' "$symbols" | awk '$1 == "T" && index($2, "@@") { sub(/.*@@/, "", $2); print $2 }' | sort -u)
if [ "$(printf '%s\n' "$nodes" | grep -c .)" -ne 1 ]; then
  echo "FAIL: the functions are not all under one version node: ${nodes:-none}" >&2
  exit 1
fi
unversioned=$(printf '%s\n' "$symbols" | awk '$1 == "T" && !index($2, "@@")')
if [ -n "$unversioned" ]; then
  echo "FAIL: functions without the version node $nodes:" >&2
  echo "$unversioned" >&2
  exit 1
fi
# Every defined dynamic symbol counts, whatever its type, except the node itself.
actual=$(printf '%s\n' "$symbols" | awk -v node="$nodes" '!($1 == "A" && $2 == node) { sub(/@.*/, "", $2); print $2 }')
compare_exports "$(basename "$library")" "$expected" "$actual"
# And all of them are functions (T), not data.
others=$(printf '%s\n' "$symbols" | awk -v node="$nodes" '$1 != "T" && !($1 == "A" && $2 == node)')
if [ -n "$others" ]; then
  echo "FAIL: defined dynamic symbols that are not functions:" >&2
  echo "$others" >&2
  exit 1
fi
echo "all under the version node $nodes"
