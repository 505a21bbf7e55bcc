#!/bin/bash
# Runs a command with avahi-daemon browsing on a private system bus and veth pair, and a private cupsd with
# the queue HungQueue (VEXA_CUPSD_SOCKET, VEXA_CUPSD_PID). As root in a private network namespace.
set -euo pipefail
if [ "$(readlink /proc/self/ns/net)" = "$(readlink /proc/1/ns/net)" ]; then
    echo "with-avahi: refusing to run in the host's network namespace (use tests/common/run-isolated.sh)" >&2
    exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vexa-avahi.XXXXXX")
pids=()
cleanup() {
    set +e
    kill -CONT "${VEXA_CUPSD_PID:-}" 2>/dev/null # a stopped cupsd acts on TERM once continued
    kill "${pids[@]}" 2>/dev/null
    wait
    rm -rf "$work"
}
trap cleanup EXIT
up() { # what, test: up to 5 s
    for _ in $(seq 200); do
        if eval "$2"; then
            return 0
        fi
        sleep 0.025
    done
    echo "with-avahi: $1 did not come up:" >&2
    cat "$work"/*.log "$work"/cups/log/* >&2 2>/dev/null
    exit 1
}
ip link add vxav0 type veth peer name vxav1 # both ends here: what avahi sends stays in this namespace
ip link set vxav1 up
ip addr add 192.168.77.1/24 dev vxav0
ip link set vxav0 up

allow='<allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>'
echo "<busconfig><type>system</type><listen>unix:path=$work/bus</listen><auth>EXTERNAL</auth>
<policy context=\"default\">$allow</policy></busconfig>" >"$work/bus.conf"
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/bus"
up dbus-daemon '[ -S "$work/bus" ]'

printf '[server]\nuse-ipv6=no\nallow-interfaces=vxav0\n[wide-area]\nenable-wide-area=no\n' >"$work/avahi.conf"
printf '[publish]\npublish-hinfo=no\npublish-workstation=no\n' >>"$work/avahi.conf"
mkdir -p /run/avahi-daemon
unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /run/avahi-daemon &&
    exec avahi-daemon --no-chroot --no-drop-root --no-rlimits --no-proc-title -f "$0"' "$work/avahi.conf" \
    >"$work/avahi.log" 2>&1 &
pids+=($!)
up avahi-daemon 'grep -q "Server startup complete" "$work/avahi.log"'

c=$work/cups
mkdir -p "$c/etc" "$c/state" "$c/cache" "$c/spool/tmp" "$c/log"
printf 'Listen %s\nBrowsing No\nWebInterface No\n<Location />\nAllow all\n</Location>\n' "$c/cups.sock" \
    >"$c/etc/cupsd.conf"
printf '%s %s\n' ServerRoot "$c/etc" StateDir "$c/state" CacheDir "$c/cache" RequestRoot "$c/spool" \
    TempDir "$c/spool/tmp" ErrorLog "$c/log/error" AccessLog "$c/log/access" >"$c/etc/cups-files.conf"
printf '<DefaultPrinter HungQueue>\nDeviceURI socket://127.0.0.1:9\nState Idle\n</DefaultPrinter>\n' \
    >"$c/etc/printers.conf"
cupsd -f -c "$c/etc/cupsd.conf" -s "$c/etc/cups-files.conf" >"$c/log/stdout" 2>&1 &
pids+=($!)
export VEXA_CUPSD_PID=$! VEXA_CUPSD_SOCKET="$c/cups.sock"
up cupsd 'CUPS_SERVER="$VEXA_CUPSD_SOCKET" lpstat -p HungQueue >/dev/null 2>&1'

"$@"
