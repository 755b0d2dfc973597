#!/usr/bin/env bash
# The server reached over a network, in network namespaces of the test's own: a
# veth pair joins the server's namespace (10.77.0.1, fd77::1) to a client's
# (10.77.0.2-3, fd77::2-3). The server listens on 0.0.0.0 as the systemd unit
# runs it, with a private avahi daemon; avahi resolves its service over IPv4 and
# IPv6, the allowed client scans over both, and a refused address is turned away
# at connect time while the allowed client scans. A server on one IPv4 address is
# announced over IPv4 only, and the scanner's UUID follows the machine's id.
# Skipped (77) where the tools are missing or no namespace can be made.
#   network_namespace_test.sh SERVER SIM_DAEMON
set -euo pipefail
server=$1 sim=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() {
  echo "FAIL: $*" >&2
  for log in "${work:-/nonexistent}"/*.out; do [ -f "$log" ] && echo "--- $log" && cat "$log"; done >&2
  exit 1
}
source "$(dirname "$0")/private_avahi.sh"

if [ "${QRX_NETNS_INSIDE:-}" != 1 ]; then
  for tool in unshare nsenter ip dbus-daemon avahi-daemon avahi-browse curl; do
    command -v "$tool" > /dev/null || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
  done
  unshare --net --mount true 2> /dev/null || skip "no network namespace can be made here"
  exec unshare --net --mount --propagation private -- env QRX_NETNS_INSIDE=1 PATH="$PATH:/usr/sbin" \
    bash "$0" "$@"
fi

work=$(mktemp -d /tmp/qrx-netns-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The client's namespace: a process that only holds it.
unshare --net sleep 600 &
client_pid=$!
pids+=($client_pid)
sleep 0.2
client() { nsenter --net="/proc/$client_pid/ns/net" "$@"; }
ip link set lo up
ip link add qrx-srv type veth peer name qrx-cli netns "$client_pid"
# Global addresses only (no link-local ones for avahi to prefer), usable at once.
sysctl -qw net.ipv6.conf.qrx-srv.addr_gen_mode=1 2> /dev/null || true
client sysctl -qw net.ipv6.conf.qrx-cli.addr_gen_mode=1 2> /dev/null || true
ip addr add 10.77.0.1/24 dev qrx-srv
ip addr add fd77::1/64 dev qrx-srv nodad
ip link set qrx-srv up multicast on
client ip link set lo up
client ip addr add 10.77.0.2/24 dev qrx-cli
client ip addr add 10.77.0.3/24 dev qrx-cli
client ip addr add fd77::2/64 dev qrx-cli nodad
client ip addr add fd77::3/64 dev qrx-cli nodad
client ip link set qrx-cli up
for _ in $(seq 50); do client ping -c 1 -W 1 10.77.0.1 > /dev/null 2>&1 && break; sleep 0.1; done

start_private_avahi "$work" host-name=qrx-netns-box use-ipv4=yes use-ipv6=yes allow-interfaces=qrx-srv

"$sim" --socket "$work/scanner.sock" --speed 50 > "$work/sim.out" &
pids+=($!)
for _ in $(seq 100); do grep -q serving "$work/sim.out" 2> /dev/null && break; sleep 0.1; done

# Starts a server (in this shell, so that the cleanup stops it); its port in $port.
start_server() {  # OUT EXTRA...
  local out=$1
  shift
  TMPDIR=$work "$server" -d "sim:$work/scanner.sock" --port 0 "$@" > "$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q serving "$out" 2> /dev/null && break; sleep 0.1; done
  grep -q serving "$out" || fail "the server did not start: $(cat "$out")"
  port=$(sed -n 's|.*serving https\?://.*:\([0-9]*\)/ .*|\1|p' "$out")
}
# The resolved services of a name, one parsable line per family (waits for want).
resolve() {  # NAME WANT
  local lines="" name=${1// /\\032}
  for _ in $(seq 40); do
    lines=$(avahi-browse -r -t -p _uscan._tcp 2> /dev/null | grep -F ";$name;" | grep '^=' | sort -u || true)
    [ "$(grep -c . <<< "$lines")" -ge "$2" ] && break
    sleep 0.5
  done
  echo "$lines"
}
uuid_of() { grep -o '<scan:UUID>[^<]*' <<< "$1" | cut -d'>' -f2; }

start_server "$work/any.out" --listen 0.0.0.0 --allow 10.77.0.2/32 --allow fd77::2/128 \
  --name "QRX netns test"
lines=$(resolve "QRX netns test" 2)
echo "$lines"
v4=$(grep ';IPv4;' <<< "$lines" | head -n 1 || true)
v6=$(grep ';IPv6;' <<< "$lines" | head -n 1 || true)
[ -n "$v4" ] || fail "avahi does not resolve the service over IPv4: $lines"
[ -n "$v6" ] || fail "avahi does not resolve the service over IPv6: $lines"
IFS=';' read -r _ _ _ _ _ _ host4 address4 port4 txt <<< "$v4"
IFS=';' read -r _ _ _ _ _ _ _ address6 port6 _ <<< "$v6"
[ "$address4" = 10.77.0.1 ] && [ "$port4" = "$port" ] || fail "IPv4 resolves to $address4:$port4"
[ "$address6" = fd77::1 ] && [ "$port6" = "$port" ] || fail "IPv6 resolves to $address6:$port6"
announced_uuid=$(grep -o '"uuid=[^"]*"' <<< "$txt" | cut -d= -f2 | tr -d '"')

settings='<?xml version="1.0" encoding="UTF-8"?><scan:ScanSettings xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm"><pwg:Version>2.63</pwg:Version><pwg:ScanRegions><pwg:ScanRegion><pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits><pwg:XOffset>0</pwg:XOffset><pwg:YOffset>0</pwg:YOffset><pwg:Width>120</pwg:Width><pwg:Height>80</pwg:Height></pwg:ScanRegion></pwg:ScanRegions><pwg:InputSource>Platen</pwg:InputSource><scan:ColorMode>RGB24</scan:ColorMode><scan:XResolution>75</scan:XResolution><scan:YResolution>75</scan:YResolution><pwg:DocumentFormat>image/png</pwg:DocumentFormat></scan:ScanSettings>'
# A scan from the client's namespace through the base URL into OUT; its PNG's size.
# The allowed client names its address: the kernel would pick either of the two.
scan() {  # BASE OUT
  local location source=10.77.0.2
  [[ $1 == *"["* ]] && source=fd77::2
  location=$(client curl -s -g --interface "$source" -D - -o /dev/null -H 'Content-Type: text/xml' --data-binary "$settings" \
    "$1/eSCL/ScanJobs" | tr -d '\r' | sed -n 's/^Location: //p')
  [ -n "$location" ] || fail "no job from $1: $(client curl -s -g --interface "$source" -H "Content-Type: text/xml" --data-binary "$settings" -w " %{http_code}" "$1/eSCL/ScanJobs")"
  # While the scanner calibrates the request is held, then answered 503: asked again.
  local status=503
  for _ in $(seq 60); do
    status=$(client curl -s -g --interface "$source" -o "$2" -w '%{http_code}' "$location/NextDocument" || true)
    [ "$status" = 503 ] || break
    sleep 1
  done
  [ "$status" = 200 ] || fail "no document from $location: HTTP $status"
  # The PNG's width and height (IHDR, big-endian, bytes 16 to 23).
  od -An -tu1 -j16 -N8 "$2" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}'
}
base4="http://$address4:$port" base6="http://[$address6]:$port" any_port=$port
# The announced host name works as the Host too.
caps=$(client curl -s -f -g --interface 10.77.0.2 -H "Host: $host4:$any_port" "$base4/eSCL/ScannerCapabilities") ||
  fail "the capabilities under the announced name $host4 are refused"
[ "$(uuid_of "$caps")" = "$announced_uuid" ] || fail "the announced uuid is not the server's"
size=$(scan "$base4" "$work/v4.png")
[ "$size" = 30x20 ] || fail "the scan over IPv4 is $size, not 30x20"
size=$(scan "$base6" "$work/v6.png")
[ "$size" = 30x20 ] || fail "the scan over IPv6 is $size, not 30x20"
echo "scanned over IPv4 and IPv6 from the client's namespace: $size"

# While the allowed client scans, the refused addresses are turned away as they
# connect: no HTTP status at all.
scan "$base4" "$work/during.png" > "$work/during.size" &
scanning=$!
sleep 0.3
for refused in 10.77.0.3 fd77::3; do
  base=$base4
  [ "$refused" = fd77::3 ] && base=$base6
  status=$(client curl -s -g --interface "$refused" -o "$work/refused.body" -w '%{http_code}' \
    --max-time 10 "$base/eSCL/ScannerCapabilities" || true)
  [ "$status" = 000 ] || fail "$refused got HTTP $status"
  [ ! -s "$work/refused.body" ] || fail "$refused was sent $(cat "$work/refused.body")"
done
wait "$scanning" || fail "the allowed client's scan failed while refused addresses called"
[ "$(cat "$work/during.size")" = 30x20 ] || fail "the scan during the refusals is $(cat "$work/during.size")"
echo "refused 10.77.0.3 and fd77::3 at connect time while 10.77.0.2 scanned"

# A server on one IPv4 address is announced over IPv4 only.
start_server "$work/one.out" --listen 10.77.0.1 --name "QRX netns IPv4"
lines=$(resolve "QRX netns IPv4" 1)
grep -q ';IPv4;' <<< "$lines" || fail "the IPv4 server is not announced: $lines"
sleep 2
lines=$(avahi-browse -r -t -p _uscan._tcp 2> /dev/null | grep -F ";QRX\\032netns\\032IPv4;" || true)
! grep -q ';IPv6;' <<< "$lines" || fail "the IPv4-only server is announced over IPv6: $lines"
echo "the server on 10.77.0.1 is announced over IPv4 only"

# The UUID: the same for another server of the scanner on this machine, another
# on a machine with another id.
start_server "$work/again.out" --listen 127.0.0.1 --no-mdns
[ "$(uuid_of "$(curl -s "http://127.0.0.1:$port/eSCL/ScannerCapabilities")")" = "$announced_uuid" ] ||
  fail "a second server of the same scanner presents another UUID"
id_file=/etc/machine-id
[ -s "$id_file" ] || id_file=/var/lib/dbus/machine-id
if [ -s "$id_file" ]; then
  echo 0f7c6ad5e9a34d0bb1d2a6e8c0d3f215 > "$work/other-machine-id"
  mount --bind "$work/other-machine-id" "$id_file"
  start_server "$work/other.out" --listen 127.0.0.1 --no-mdns
  other_uuid=$(uuid_of "$(curl -s "http://127.0.0.1:$port/eSCL/ScannerCapabilities")")
  [ -n "$other_uuid" ] && [ "$other_uuid" != "$announced_uuid" ] ||
    fail "another machine presents the same UUID $other_uuid"
  echo "UUIDs: $announced_uuid here, $other_uuid on another machine"
else
  echo "no machine id file: the UUID of another machine is not checked"
fi
echo "the server over a veth pair checked"
