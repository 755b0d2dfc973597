#!/usr/bin/env bash
# The network scanner server's long runs, which the test run gives in reduced
# form:
#  1. a first scan through sane-airscan on the emulator in real time, so that
#     the scanner calibrates for minutes, with the server's defaults: it must
#     succeed (sane-airscan gives up after 30 answers of 503 in a row; the
#     server holds each request for the image 20 s first). The 503 answers it
#     met are counted from its trace.
#  2. the same with --document-wait 1: to show what holding is for, the result
#     is reported, not required.
#  3. bench/escl_server.sh: speed against qrxscan and memory at 600 dpi.
#   scripts/escl_long.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sim=$build/tools/qrx7730-sim/qrx7730-sim
server=$build/tools/qrx7730-escl/qrx7730-escl
pids=()
work=$(mktemp -d /tmp/qrx-escl-long-XXXXXX)
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

first_scan() {  # NAME SERVER-OPTIONS...
  local name=$1
  shift
  local dir=$work/$name
  mkdir -p "$dir/tmp" "$dir/trace" "$dir/sane.d"
  "$sim" --socket "$dir/scanner.sock" --speed 1 > "$dir/sim.out" &
  pids+=($!)
  until grep -q serving "$dir/sim.out" 2> /dev/null; do sleep 0.1; done
  TMPDIR=$dir/tmp "$server" -d "sim:$dir/scanner.sock" --port 0 --no-mdns "$@" > "$dir/server.out" &
  pids+=($!)
  until grep -q serving "$dir/server.out" 2> /dev/null; do sleep 0.1; done
  local url
  url=$(awk '{print $3}' "$dir/server.out")
  echo airscan > "$dir/sane.d/dll.conf"
  printf '[devices]\n"QRX" = %seSCL/, eSCL\n[options]\ndiscovery = disable\n[debug]\ntrace = %s\n' \
    "$url" "$dir/trace" > "$dir/sane.d/airscan.conf"
  local start end status=0
  start=$(date +%s)
  SANE_CONFIG_DIR=$dir/sane.d scanimage -d airscan:e0:QRX --resolution 300 -x 50.8 -y 38.1 \
    --format=png -o "$dir/scan.png" > "$dir/scanimage.out" 2> "$dir/scanimage.err" || status=$?
  end=$(date +%s)
  local answers
  answers=$(grep -c 'NextDocument: 503' "$dir"/trace/*QRX.log || true)
  echo "$name: scanimage exit $status after $((end - start)) s, $answers answers of 503; $(tail -n 1 "$dir/scanimage.err")"
  return "$status"
}

echo "1. first scan, calibrating in real time, server defaults (must succeed)"
first_scan defaults
echo "2. the same with --document-wait 1 (reported only)"
first_scan no-hold --document-wait 1 || true
echo "3. bench"
bash bench/escl_server.sh "$build" 5
