#!/usr/bin/env bash
# The udev rule as built and as installed: it matches the configured USB ids as
# sysfs shows them (four lower-case hex digits, worked out here from the ids as
# configured), opens the device to users, and lands in lib/udev/rules.d.
# Usage: check_udev_rule.sh <build directory> <vendor id> <product id> <work dir>
set -euo pipefail
build=$1 work=$4
vendor=$(printf '%04x' $(($2)))
product=$(printf '%04x' $(($3)))
rule="$build/udev/60-qrx7730.rules"

fail() { echo "FAIL: $*" >&2; exit 1; }
grep -q "ATTR{idVendor}==\"$vendor\", ATTR{idProduct}==\"$product\"" "$rule" ||
  fail "the rule does not match $vendor:$product"
grep -q 'TAG+="uaccess"' "$rule" || fail "no uaccess tag"
grep -q 'GROUP="scanner"' "$rule" || fail "no scanner group"
! grep -q '@' "$rule" || fail "a placeholder was left in the rule"

rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
cmp -s "$rule" "$work/prefix/lib/udev/rules.d/60-qrx7730.rules" ||
  fail "the rule is not installed under lib/udev/rules.d"
rm -rf "$work"
echo "1 passed, 0 failed"
