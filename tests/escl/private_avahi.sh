# Sourced by the network scanner's announcement tests, inside a network and mount
# namespace of their own: starts a private system D-Bus and an avahi daemon on it,
# which see nothing outside the namespace. The caller defines fail and the array
# pids (the daemons' process ids are added to it, for its clean-up).
#   start_private_avahi WORK SERVER_SETTING...
# WORK: the test's own directory (the configurations and logs go there);
# SERVER_SETTING: the lines of avahi's [server] section besides those every test
# needs (the interfaces, the address families, a host name).
start_private_avahi() {
  local work=$1
  shift
  mkdir -p /run/avahi-daemon /run/dbus
  mountpoint -q /run/avahi-daemon || mount -t tmpfs tmpfs /run/avahi-daemon
  mountpoint -q /run/dbus || mount -t tmpfs tmpfs /run/dbus
  cat > "$work/bus.conf" << BUS
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
  </policy>
</busconfig>
BUS
  dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile > "$work/dbus.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
  [ -S /run/dbus/system_bus_socket ] || fail "the private D-Bus did not start: $(cat "$work/dbus.log")"

  {
    echo "[server]"
    printf '%s\n' "$@"
    cat << AVAHI
enable-dbus=yes
ratelimit-interval-usec=0
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
publish-hinfo=no
[reflector]
[rlimits]
AVAHI
  } > "$work/avahi.conf"
  avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits --no-proc-title \
    > "$work/avahi.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do avahi-browse -a -t > /dev/null 2>&1 && break; sleep 0.1; done
  avahi-browse -a -t > /dev/null 2>&1 || fail "avahi did not start: $(cat "$work/avahi.log")"
}
