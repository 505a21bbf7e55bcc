#!/bin/bash
# Runs a command on a "desktop" as far as libcups can tell: avahi-daemon answers on the system bus
# and browses the network. Everything stays inside the caller's private network namespace:
#   - a veth pair to a second namespace of our own gives avahi an interface (it sends only there);
#   - a private D-Bus system bus on a socket in our work directory (DBUS_SYSTEM_BUS_ADDRESS points
#     the command at it), so a desktop's own bus and avahi are never reached;
#   - avahi-daemon in a mount namespace of its own (its pid file path is fixed).
# With VEXA_PRIVATE_CUPSD=1 it also starts a private cupsd (own config, state and socket, one queue
# "HungQueue") and exports VEXA_CUPSD_SOCKET and VEXA_CUPSD_PID for the command.
# Usage (as root, already inside a private network namespace): with-avahi.sh command [args...]
set -euo pipefail

if [ "$(readlink /proc/self/ns/net)" = "$(readlink /proc/1/ns/net)" ]; then
  echo "with-avahi: refusing to run in the host's network namespace (use tests/common/run-isolated.sh)" >&2
  exit 1
fi
for tool in avahi-daemon dbus-daemon ip unshare nsenter; do
  command -v "$tool" >/dev/null || { echo "with-avahi: $tool missing (scripts/install-deps.sh test)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vexa-avahi.XXXXXX")
PIDS=()
cleanup() {
  # A stopped scheduler must be continued before it can act on its TERM.
  [ -n "${VEXA_CUPSD_PID:-}" ] && kill -CONT "$VEXA_CUPSD_PID" 2>/dev/null || true
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  ip link del vxav0 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# The second namespace: the other end of the veth lives in a sleeping process's own namespace.
unshare --net sleep infinity &
PEER_PID=$!
PIDS+=("$PEER_PID")
for _ in $(seq 50); do
  [ "$(readlink /proc/$PEER_PID/ns/net 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ] && break
  sleep 0.02
done
ip link add vxav0 type veth peer name vxav1 netns "$PEER_PID"
ip addr add 192.168.77.1/24 dev vxav0
ip link set vxav0 up
nsenter -t "$PEER_PID" -n sh -c 'ip link set lo up; ip addr add 192.168.77.2/24 dev vxav1; ip link set vxav1 up'

# A private system bus: permissive policy, nothing but this test on it.
cat >"$WORK/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$WORK/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$WORK/bus.conf" --nofork --nopidfile >"$WORK/dbus.log" 2>&1 &
PIDS+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$WORK/system_bus_socket"
for _ in $(seq 100); do [ -S "$WORK/system_bus_socket" ] && break; sleep 0.02; done

cat >"$WORK/avahi.conf" <<EOF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=vxav0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
EOF
# avahi-daemon keeps its pid file and socket in /run/avahi-daemon: a tmpfs of its own there.
mkdir -p /run/avahi-daemon
unshare --mount --propagation private sh -c \
  'mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-chroot --no-drop-root --no-rlimits --no-proc-title -f "$0"' \
  "$WORK/avahi.conf" >"$WORK/avahi.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 200); do grep -q "Server startup complete" "$WORK/avahi.log" && break; sleep 0.025; done
if ! grep -q "Server startup complete" "$WORK/avahi.log"; then
  echo "with-avahi: avahi-daemon did not come up:" >&2
  cat "$WORK/avahi.log" >&2
  exit 1
fi

if [ "${VEXA_PRIVATE_CUPSD:-}" = 1 ]; then
  CUPS="$WORK/cups"
  mkdir -p "$CUPS/etc/ppd" "$CUPS/etc/ssl" "$CUPS/state" "$CUPS/cache" "$CUPS/spool/tmp" "$CUPS/log"
  chmod 755 "$CUPS" "$CUPS/etc"
  chmod 1770 "$CUPS/spool/tmp"
  cat >"$CUPS/etc/cupsd.conf" <<EOF
Listen $CUPS/cups.sock
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
LogLevel warn
<Location />
  Order allow,deny
  Allow all
</Location>
EOF
  cat >"$CUPS/etc/cups-files.conf" <<EOF
ServerRoot $CUPS/etc
StateDir $CUPS/state
CacheDir $CUPS/cache
RequestRoot $CUPS/spool
TempDir $CUPS/spool/tmp
ErrorLog $CUPS/log/error_log
AccessLog $CUPS/log/access_log
PageLog $CUPS/log/page_log
EOF
  cat >"$CUPS/etc/printers.conf" <<EOF
<DefaultPrinter HungQueue>
DeviceURI socket://127.0.0.1:9
State Idle
Accepting Yes
</DefaultPrinter>
EOF
  chmod 640 "$CUPS/etc/cupsd.conf" "$CUPS/etc/cups-files.conf" "$CUPS/etc/printers.conf"
  cupsd -f -c "$CUPS/etc/cupsd.conf" -s "$CUPS/etc/cups-files.conf" >"$CUPS/log/stdout" 2>&1 &
  export VEXA_CUPSD_PID=$!
  PIDS+=("$VEXA_CUPSD_PID")
  export VEXA_CUPSD_SOCKET="$CUPS/cups.sock"
  for _ in $(seq 200); do
    [ -S "$VEXA_CUPSD_SOCKET" ] && break
    kill -0 "$VEXA_CUPSD_PID" 2>/dev/null || break
    sleep 0.025
  done
  if ! CUPS_SERVER="$VEXA_CUPSD_SOCKET" lpstat -p HungQueue >/dev/null 2>&1; then
    echo "with-avahi: the private cupsd did not come up:" >&2
    cat "$CUPS/log/stdout" "$CUPS/log/error_log" >&2 2>/dev/null || true
    exit 1
  fi
fi

"$@"
