#!/bin/bash
# Two hosts on a private wire: the service in one network namespace (192.168.77.20/24), set-top
# boxes in another (192.168.77.30 and .31), joined by a veth pair made inside the namespaces, so
# the host's own interfaces are never touched. Usage: two_hosts.sh <VexaPrinter> <box-script>
# Needs root for ip netns; exits 77 (skipped) without it.
set -u
SERVICE_BIN=$1 BOX_SCRIPT=$2
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "SKIP: needs root and iproute2"; exit 77
fi
SVC=vexa-svc-$$ BOX=vexa-box-$$
WORK=$(mktemp -d /tmp/vexa-2hosts.XXXXXX)
drop_ns() {
    for pid in $(ip netns pids "$1" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$1" 2>/dev/null
}
# Namespaces of an earlier run killed outright (no trap runs on SIGKILL).
for ns in $(ip netns list | grep -oE '^vexa-(svc|box)-[0-9]+'); do
    kill -0 "${ns##*-}" 2>/dev/null || drop_ns "$ns"
done
trap 'drop_ns "$SVC"; drop_ns "$BOX"; rm -rf "$WORK"' EXIT INT TERM

set -e
ip netns add "$SVC"
ip netns add "$BOX"
ip -n "$SVC" link add vxs type veth peer name vxb netns "$BOX"
ip -n "$SVC" addr add 192.168.77.20/24 dev vxs
ip -n "$BOX" addr add 192.168.77.30/24 dev vxb
ip -n "$BOX" addr add 192.168.77.31/24 dev vxb
for pair in "$SVC vxs" "$BOX vxb"; do
    set -- $pair
    ip -n "$1" link set lo up
    ip -n "$1" link set "$2" up
    ip -n "$1" route add 224.0.0.0/4 dev "$2"
done
# The service keeps its files beside the executable.
cp "$SERVICE_BIN" "$WORK/VexaPrinter"
mkdir -m 700 "$WORK/runtime"
ip netns exec "$SVC" unshare --ipc -- env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$WORK/runtime" \
    "$WORK/VexaPrinter" >"$WORK/service.out" 2>&1 </dev/null &
set +e
# Bounded well inside the CTest time-out, so the trap always gets to clean up.
timeout -k 5 75 ip netns exec "$BOX" python3 "$BOX_SCRIPT" "$WORK" || { rc=$?; tail -c 4000 "$WORK/service.out"; exit $rc; }
