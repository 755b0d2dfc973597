#!/usr/bin/env bash
# The network scanner server against qrxscan, side by side in one run, on the
# emulator daemon made 100 times faster than real time:
#  - a 300 dpi colour A4 scan into JPEG through the server (POST, then
#    NextDocument into a file with curl) and the same scan written by qrxscan,
#    each ROUNDS times, alternately; reported: the medians and their ratio;
#  - the server's resident memory while it serves a 600 dpi colour A4 JPEG
#    (sampled every 50 ms, and the kernel's high-water mark).
# Both open the scanner for their scan, as they do in use; the calibration is
# made once beforehand and shared.
#   bench/escl_server.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=${1:-build}
rounds=${2:-5}
sim=$build/tools/qrx7730-sim/qrx7730-sim
server=$build/tools/qrx7730-escl/qrx7730-escl
qrxscan=$build/tools/qrxscan/qrxscan
work=$(mktemp -d /tmp/qrx-escl-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export TMPDIR=$work

"$sim" --socket "$work/scanner.sock" --speed 100 > "$work/sim.out" &
pids+=($!)
until grep -q serving "$work/sim.out" 2>/dev/null; do sleep 0.1; done
device=sim:$work/scanner.sock

"$server" -d "$device" --listen 127.0.0.1 --port 0 --no-mdns > "$work/server.out" &
server_pid=$!
pids+=($server_pid)
until grep -q serving "$work/server.out" 2>/dev/null; do sleep 0.1; done
url=$(awk '{print $3}' "$work/server.out")
url=${url%/}

settings() {  # DPI: A4 (210 x 297 mm = 2480 x 3508 300ths), colour, JPEG
  printf '<?xml version="1.0" encoding="UTF-8"?><scan:ScanSettings xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm"><pwg:ScanRegions><pwg:ScanRegion><pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits><pwg:XOffset>0</pwg:XOffset><pwg:YOffset>0</pwg:YOffset><pwg:Width>2480</pwg:Width><pwg:Height>3508</pwg:Height></pwg:ScanRegion></pwg:ScanRegions><scan:ColorMode>RGB24</scan:ColorMode><scan:XResolution>%s</scan:XResolution><scan:YResolution>%s</scan:YResolution><pwg:DocumentFormat>image/jpeg</pwg:DocumentFormat></scan:ScanSettings>' "$1" "$1"
}
through_server() {  # DPI OUT
  local job
  job=$(curl -s -D - -o /dev/null --data-binary "$(settings "$1")" "$url/eSCL/ScanJobs" |
    tr -d '\r' | awk '/^Location:/ {print $2}')
  [ -n "$job" ] || { echo "the server took no job" >&2; exit 1; }
  curl -s -f --retry 600 --retry-delay 1 -o "$2" "$job/NextDocument"
}
with_qrxscan() {  # OUT
  "$qrxscan" -d "$device" --resolution 300 --mode Color -x 210 -y 297 --no-progress -o "$1"
}
now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# The calibration for 300 and 600 dpi, once.
with_qrxscan "$work/warm.jpg"
sleep 1
through_server 600 "$work/warm600.jpg"

: > "$work/server.times"
: > "$work/qrxscan.times"
for ((i = 0; i < rounds; i++)); do
  # Each scan starts with the carriage home (the last scan's return takes a
  # moment, and qrxscan takes no open while the carriage moves).
  sleep 1
  start=$(now); through_server 300 "$work/server.jpg"; end=$(now)
  echo "$end - $start" | bc >> "$work/server.times"
  sleep 1
  start=$(now); with_qrxscan "$work/qrxscan.jpg"; end=$(now)
  echo "$end - $start" | bc >> "$work/qrxscan.times"
done
server_median=$(median < "$work/server.times")
qrxscan_median=$(median < "$work/qrxscan.times")
echo "300 dpi colour A4 JPEG, $rounds rounds, emulator 100x:"
echo "  qrxscan:           median $qrxscan_median s ($(tr '\n' ' ' < "$work/qrxscan.times")) $(stat -c %s "$work/qrxscan.jpg") bytes"
echo "  through the server: median $server_median s ($(tr '\n' ' ' < "$work/server.times")) $(stat -c %s "$work/server.jpg") bytes"
echo "  ratio server / qrxscan: $(echo "scale=3; $server_median / $qrxscan_median" | bc)"

# Memory during a 600 dpi colour A4 scan.
sleep 1
peak=0
through_server 600 "$work/server600.jpg" &
scan=$!
while kill -0 "$scan" 2>/dev/null; do
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status")
  [ "$rss" -gt "$peak" ] && peak=$rss
  sleep 0.05
done
wait "$scan"
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$server_pid/status")
echo "600 dpi colour A4 JPEG through the server ($(stat -c %s "$work/server600.jpg") bytes):"
echo "  resident memory: largest sample $((peak / 1024)) MiB, high-water mark $((hwm / 1024)) MiB (bound 64 MiB)"
