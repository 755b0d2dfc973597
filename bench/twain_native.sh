#!/usr/bin/env bash
# The TWAIN data source against qrxscan.exe under Wine, in the same prefix: an A4
# scan at 300 dpi in colour, taken by a native transfer and saved as BMP
# (twain_session_test.exe --bench) and written by qrxscan.exe as PNM, each ROUNDS
# times, alternately, after one warm-up of each (which calibrates). Reported:
# each program's median wall time and their ratio. The built-in emulated scanner
# runs SPEED times faster than real time.
#   bench/twain_native.sh [WINDOWS_BUILD_DIR] [ROUNDS] [SPEED]
set -euo pipefail
build=$(cd "${1:-build/windows-build}" && pwd)
rounds=${2:-5}
speed=${3:-20}
test_dir=$build/tests/windows
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QRX7730_SIM=speed=$speed QRX7730_DEVICE=sim:
work=$(mktemp -d /tmp/qrx-twain-bench-XXXXXX)
trap 'rm -rf "$work" "$test_dir"/bench-twain.bmp "$test_dir"/bench-qrxscan.pnm' EXIT

run() {  # which -> seconds
  local start end
  start=$(date +%s.%N)
  if [ "$1" = twain ]; then
    (cd "$test_dir" && wine twain_session_test.exe --bench bench-twain.bmp >/dev/null)
  else
    # (qrxscan.exe's rename does not replace a file that is there.)
    rm -f "$test_dir/bench-qrxscan.pnm"
    (cd "$test_dir" && wine "$build/tools/qrxscan/qrxscan.exe" -d sim: --resolution 300 \
      -x 210 -y 297 --format pnm -o bench-qrxscan.pnm 2>"$work/qrxscan.err") ||
      { cat "$work/qrxscan.err" >&2; return 1; }
  fi
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

wineserver -p30  # one server for the whole run, so no round pays its start
run twain >/dev/null
run qrxscan >/dev/null
: > "$work/twain.times"
: > "$work/qrxscan.times"
for ((i = 0; i < rounds; i++)); do
  run twain >> "$work/twain.times"
  run qrxscan >> "$work/qrxscan.times"
done
twain=$(median < "$work/twain.times")
qrxscan=$(median < "$work/qrxscan.times")
echo "A4 at 300 dpi colour, emulator at ${speed}x, $rounds rounds:"
echo "  TWAIN native transfer saved as BMP: median $twain s ($(tr '\n' ' ' < "$work/twain.times"))"
echo "  qrxscan.exe writing PNM:            median $qrxscan s ($(tr '\n' ' ' < "$work/qrxscan.times"))"
echo "  ratio: $(echo "scale=3; $twain / $qrxscan" | bc)"
ls -lL "$test_dir/bench-twain.bmp" "$test_dir/bench-qrxscan.pnm" | awk '{ print "  " $5 " bytes  " $9 }'
wineserver -k || true
