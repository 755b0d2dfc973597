#!/usr/bin/env bash
# The server as installed: the program finds the installed library relative to
# itself and serves the emulated scanner with nothing of the build tree; its man
# page and systemd unit are there, the unit naming the program where the
# configured prefix puts it and, where systemd-analyze is installed, passing
# its check.
#   install_check.sh <build dir> <cmake> <configured bindir>
set -euo pipefail
build=$1 cmake=$2 bindir=$3
work=$(mktemp -d /tmp/qrx-escl-install-XXXXXX)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2> /dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log" >&2; fail "cmake --install"; }
[ -x "$prefix/bin/qrx7730-escl" ] || fail "no bin/qrx7730-escl"
[ -f "$prefix/share/man/man1/qrx7730-escl.1" ] || fail "no man page"
unit=$prefix/lib/systemd/system/qrx7730-escl.service
[ -f "$unit" ] || fail "no lib/systemd/system/qrx7730-escl.service"
grep -q "^ExecStart=$bindir/qrx7730-escl --listen 0.0.0.0 \$QRX7730_ESCL_OPTIONS\$" "$unit" ||
  fail "the unit's ExecStart: $(grep ExecStart "$unit")"
if command -v systemd-analyze > /dev/null; then
  # Checked with the program where this install put it.
  sed "s|^ExecStart=$bindir/|ExecStart=$prefix/bin/|" "$unit" > "$work/qrx7730-escl.service"
  systemd-analyze verify --man=no "$work/qrx7730-escl.service" || fail "systemd-analyze verify"
fi
env -i PATH=/usr/bin:/bin HOME="$work" TMPDIR="$work" "$prefix/bin/qrx7730-escl" --version > "$work/version.out"
grep -q "^qrx7730-escl " "$work/version.out" || fail "--version: $(cat "$work/version.out")"
env -i PATH=/usr/bin:/bin HOME="$work" TMPDIR="$work" "$prefix/bin/qrx7730-escl" -d "sim:#escl-install-$$" \
  --port 0 --no-mdns > "$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 300); do grep -q serving "$work/server.out" && break; sleep 0.1; done
url=$(awk '/serving/ {print $3}' "$work/server.out")
[ -n "$url" ] || fail "the installed server did not start: $(cat "$work/server.out")"
curl -s "${url}eSCL/ScannerCapabilities" | grep -q "<pwg:MakeAndModel>QUARN RV-70413K</pwg:MakeAndModel>" ||
  fail "the installed server does not describe the scanner"
echo "the installed server serves the emulated scanner"
