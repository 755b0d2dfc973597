#!/usr/bin/env bash
# Checks that the Linux shared library's dynamic symbol table defines exactly the
# 32 exported functions and nothing else.
#   check_shared_library_exports.sh <nm> <libqrx7730.so> <expected list> <qrx7730.h>
set -euo pipefail
nm=$1 library=$2 list=$3 header=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/export_list.sh"

expected=$(expected_exports "$list" "$header")
# "address type name[@version]"; every defined dynamic symbol counts, whatever its type.
actual=$("$nm" -D --defined-only "$library" | awk 'NF >= 3 { sub(/@.*/, "", $3); print $3 }')
compare_exports "$(basename "$library")" "$expected" "$actual"
# And all of them are functions (T), not data.
others=$("$nm" -D --defined-only "$library" | awk 'NF >= 3 && $2 != "T"')
if [ -n "$others" ]; then
  echo "FAIL: defined dynamic symbols that are not functions:" >&2
  echo "$others" >&2
  exit 1
fi
