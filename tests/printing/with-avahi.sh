#!/bin/bash
# Runs a command on a "desktop" as far as libcups can tell: avahi-daemon browsing on a private system bus,
# a veth pair its only link, /run/avahi-daemon a tmpfs of its own. With VEXA_PRIVATE_CUPSD=1 also a private
# cupsd (own config, state and socket; queue "HungQueue"), exported as VEXA_CUPSD_SOCKET and VEXA_CUPSD_PID.
# Usage (as root, inside a private network namespace): with-avahi.sh command [args...]
set -euo pipefail
[ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ] ||
  { echo "with-avahi: refusing to run in the host's network namespace (use tests/common/run-isolated.sh)" >&2; exit 1; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vexa-avahi.XXXXXX")
PIDS=()
cleanup() {  # a stopped cupsd acts on TERM once continued
  set +e; [ -n "${VEXA_CUPSD_PID:-}" ] && kill -CONT "$VEXA_CUPSD_PID" 2>/dev/null
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done; wait; rm -rf "$WORK"
}
trap cleanup EXIT
up() {  # what, test: waits up to 5 s for the test to pass
  for _ in $(seq 200); do eval "$2" && return 0; sleep 0.025; done
  echo "with-avahi: $1 did not come up:" >&2; cat "$WORK"/*.log "$WORK"/cups/log/* >&2 2>/dev/null; exit 1
}
ip link add vxav0 type veth peer name vxav1  # both ends here: what avahi sends stays in this namespace
ip link set vxav1 up && ip addr add 192.168.77.1/24 dev vxav0 && ip link set vxav0 up

printf '<busconfig><type>system</type><listen>unix:path=%s/bus</listen><auth>EXTERNAL</auth><policy context="default"><allow user="*"/>%s</policy></busconfig>\n' \
  "$WORK" '<allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>' >"$WORK/bus.conf"
dbus-daemon --config-file="$WORK/bus.conf" --nofork --nopidfile >"$WORK/dbus.log" 2>&1 & PIDS+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$WORK/bus"
up dbus-daemon '[ -S "$WORK/bus" ]'

printf '[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=vxav0\n[wide-area]\nenable-wide-area=no\n[publish]\npublish-hinfo=no\npublish-workstation=no\n' >"$WORK/avahi.conf"
mkdir -p /run/avahi-daemon
unshare --mount --propagation private sh -c \
  'mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-chroot --no-drop-root --no-rlimits --no-proc-title -f "$0"' \
  "$WORK/avahi.conf" >"$WORK/avahi.log" 2>&1 & PIDS+=($!)
up avahi-daemon 'grep -q "Server startup complete" "$WORK/avahi.log"'

if [ "${VEXA_PRIVATE_CUPSD:-}" = 1 ]; then
  C="$WORK/cups"
  mkdir -p "$C/etc/ppd" "$C/state" "$C/cache" "$C/spool/tmp" "$C/log"
  printf 'Listen %s\nBrowsing No\nDefaultShared No\nWebInterface No\n<Location />\nOrder allow,deny\nAllow all\n</Location>\n' "$C/cups.sock" >"$C/etc/cupsd.conf"
  printf 'ServerRoot %s/etc\nStateDir %s/state\nCacheDir %s/cache\nRequestRoot %s/spool\nTempDir %s/spool/tmp\n' \
    "$C" "$C" "$C" "$C" "$C" >"$C/etc/cups-files.conf"
  printf 'ErrorLog %s/log/error\nAccessLog %s/log/access\nPageLog %s/log/page\n' "$C" "$C" "$C" >>"$C/etc/cups-files.conf"
  printf '<DefaultPrinter HungQueue>\nDeviceURI socket://127.0.0.1:9\nState Idle\nAccepting Yes\n</DefaultPrinter>\n' >"$C/etc/printers.conf"
  cupsd -f -c "$C/etc/cupsd.conf" -s "$C/etc/cups-files.conf" >"$C/log/stdout" 2>&1 & PIDS+=($!)
  export VEXA_CUPSD_PID=$! VEXA_CUPSD_SOCKET="$C/cups.sock"
  up cupsd 'CUPS_SERVER="$VEXA_CUPSD_SOCKET" lpstat -p HungQueue >/dev/null 2>&1'
fi

"$@"
