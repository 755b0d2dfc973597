#!/usr/bin/env bash
# The announcement of a server started while another program has the scanner,
# in a network namespace of the test's own with a private D-Bus and avahi
# daemon: the server listens at once and is announced under the name it has
# then; once the other program lets go, the announcement carries the scanner's
# model (ty=, the service name). Skipped (77) where the tools are missing or no
# namespace can be made.
#   mdns_update_test.sh SERVER SIM_DAEMON
set -euo pipefail
server=$1 sim=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$(dirname "$0")/private_avahi.sh"

if [ "${QRX_MDNS_INSIDE:-}" != 1 ]; then
  for tool in unshare ip dbus-daemon avahi-daemon avahi-browse python3; do
    command -v "$tool" > /dev/null || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
  done
  unshare --net --mount true 2> /dev/null || skip "no network namespace can be made here"
  exec unshare --net --mount --propagation private -- env QRX_MDNS_INSIDE=1 PATH="$PATH:/usr/sbin" \
    bash "$0" "$@"
fi

ip link set lo up
ip link set lo multicast on
work=$(mktemp -d /tmp/qrx-mdns-update-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_private_avahi "$work" use-ipv4=yes use-ipv6=no allow-interfaces=lo

"$sim" --socket "$work/scanner.sock" --speed 50 > "$work/sim.out" &
pids+=($!)
for _ in $(seq 100); do grep -q serving "$work/sim.out" 2> /dev/null && break; sleep 0.1; done
device="sim:$work/scanner.sock"

# Another program has the scanner: it holds the name SANE front ends and the
# server take for the device (an abstract Unix socket) until told to let go.
mkfifo "$work/let-go"
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind("\0qrx7730-sane:" + sys.argv[1])
print("holding", flush=True)
open(sys.argv[2]).read()
' "$device" "$work/let-go" > "$work/hold.out" &
holder=$!
pids+=($holder)
for _ in $(seq 100); do grep -q holding "$work/hold.out" 2> /dev/null && break; sleep 0.1; done

started=$(date +%s%N)
TMPDIR=$work "$server" -d "$device" --listen 127.0.0.1 --port 0 > "$work/server.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q serving "$work/server.out" 2> /dev/null && break; sleep 0.1; done
grep -q serving "$work/server.out" || fail "the server did not start: $(cat "$work/server.out")"
elapsed_ms=$(( ($(date +%s%N) - started) / 1000000 ))
echo "the server listened after $elapsed_ms ms"
[ "$elapsed_ms" -lt 5000 ] || fail "the server took $elapsed_ms ms to listen"

# The service of the type whose TXT record holds the text: its parsable line.
find_service() {  # TEXT
  local line=""
  for _ in $(seq 60); do
    line=$(avahi-browse -r -t -p _uscan._tcp 2> /dev/null | grep -F "=;lo;IPv4;" |
           grep -F "$1" | head -n 1 || true)
    [ -n "$line" ] && break
    sleep 0.5
  done
  echo "$line"
}
line=$(find_service '"ty=QRX7730 scanner"')
[ -n "$line" ] || fail "no announcement while the scanner is held: $(avahi-browse -a -t -p -r 2>&1)"
echo "$line"

echo go > "$work/let-go"
wait "$holder" || true
line=$(find_service '"ty=QUARN RV-70413K"')
[ -n "$line" ] || fail "the announcement did not take the model: $(avahi-browse -a -t -p -r 2>&1)"
echo "$line"
IFS=';' read -r _ _ _ name _ <<< "$line"
[[ "$name" == QUARN\\032RV-70413K\\032on\\032* ]] || fail "the service's name is $name"
grep -q '"note=QUARN RV-70413K on ' <<< "$line" || fail "the note is not the new name: $line"
echo "the announcement took the model once the scanner could be read"
