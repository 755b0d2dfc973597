#!/usr/bin/env bash
# The mDNS announcement end to end, in a network namespace of the test's own
# (loopback only, nothing leaves it) with a private D-Bus and avahi daemon:
# avahi-browse resolves the server's _uscan._tcp service with the TXT keys eSCL
# clients read, sane-airscan's discovery (airscan-discover) finds it, and a
# server with TLS is announced as _uscans._tcp. Skipped (77) where the tools are
# missing or no namespace can be made.
#   mdns_test.sh SERVER SIM_DAEMON
set -euo pipefail
server=$1 sim=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$(dirname "$0")/private_avahi.sh"

if [ "${QRX_MDNS_INSIDE:-}" != 1 ]; then
  for tool in unshare ip dbus-daemon avahi-daemon avahi-browse openssl; do
    command -v "$tool" > /dev/null || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
  done
  # A network and mount namespace: the avahi daemon's run directory is private too.
  unshare --net --mount true 2> /dev/null || skip "no network namespace can be made here"
  exec unshare --net --mount --propagation private -- env QRX_MDNS_INSIDE=1 PATH="$PATH:/usr/sbin" \
    bash "$0" "$@"
fi

ip link set lo up
ip link set lo multicast on
work=$(mktemp -d /tmp/qrx-mdns-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_private_avahi "$work" use-ipv4=yes use-ipv6=no allow-interfaces=lo

"$sim" --socket "$work/scanner.sock" --speed 20 > "$work/sim.out" &
pids+=($!)
for _ in $(seq 100); do grep -q serving "$work/sim.out" 2> /dev/null && break; sleep 0.1; done

start_server() {  # OUT EXTRA...
  local out=$1
  shift
  TMPDIR=$work "$server" -d "sim:$work/scanner.sock" --listen 127.0.0.1 --port 0 "$@" > "$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q serving "$out" 2> /dev/null && break; sleep 0.1; done
  grep -q serving "$out" || fail "the server did not start: $(cat "$out")"
}
# A resolved service of the type: its parsable avahi-browse line (waits for it;
# avahi-browse writes a space in a name as \032).
resolve() {  # TYPE NAME
  local line="" name=${2// /\\032}
  for _ in $(seq 60); do
    line=$(avahi-browse -r -t -p "$1" 2> /dev/null | grep -F "=;lo;IPv4;$name;" | head -n 1 || true)
    [ -n "$line" ] && break
    sleep 0.5
  done
  echo "$line"
}

start_server "$work/plain.out" --name "QRX mDNS test"
port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/plain.out")
line=$(resolve _uscan._tcp "QRX mDNS test")
[ -n "$line" ] || fail "avahi-browse does not find _uscan._tcp 'QRX mDNS test': $(avahi-browse -a -t -p -r 2>&1)"
echo "$line"
# =;lo;IPv4;NAME;_uscan._tcp;local;HOST;ADDRESS;PORT;"key=value" ...
IFS=';' read -r _ _ _ _ _ _ _ address service_port txt <<< "$line"
[ "$address" = 127.0.0.1 ] || fail "the service's address is $address"
[ "$service_port" = "$port" ] || fail "the service's port is $service_port, the server's $port"
for key in txtvers=1 vers=2.63 rs=eSCL "ty=QUARN RV-70413K" pdl=image/jpeg,image/png,application/pdf \
  cs=color,grayscale is=platen representation=http adminurl=http uuid= "note=QRX mDNS test"; do
  grep -q "\"$key" <<< "$txt" || fail "the TXT record lacks $key: $txt"
done
uuid=$(grep -o '"uuid=[^"]*"' <<< "$txt" | cut -d= -f2 | tr -d '"')
caps=$(curl -s "http://127.0.0.1:$port/eSCL/ScannerCapabilities")
grep -q "<scan:UUID>$uuid</scan:UUID>" <<< "$caps" || fail "the announced uuid $uuid is not the server's"

# sane-airscan's own discovery finds it (as a client on the network would).
if command -v airscan-discover > /dev/null; then
  found=""
  for _ in $(seq 20); do
    found=$(timeout 20 airscan-discover 2> /dev/null || true)
    grep -q "127.0.0.1:$port/eSCL" <<< "$found" && break
    sleep 0.5
  done
  echo "$found"
  grep -q "127.0.0.1:$port/eSCL" <<< "$found" || fail "airscan-discover does not find the server: $found"
else
  echo "airscan-discover is not installed: sane-airscan's discovery not checked"
fi

# With TLS: _uscans._tcp and https URLs.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj /CN=127.0.0.1 2> /dev/null
start_server "$work/tls.out" --name "QRX mDNS TLS test" --cert "$work/cert.pem" --key "$work/key.pem"
line=$(resolve _uscans._tcp "QRX mDNS TLS test")
[ -n "$line" ] || fail "avahi-browse does not find _uscans._tcp 'QRX mDNS TLS test'"
grep -q '"adminurl=https://' <<< "$line" || fail "the TLS service's admin URL is not https: $line"
echo "mDNS announcement checked: _uscan._tcp and _uscans._tcp with their TXT keys"
