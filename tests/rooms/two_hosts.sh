#!/bin/bash
# Two hosts on a private wire: the service in one network namespace (192.168.77.20/24), set-top
# boxes and a second print control in another (192.168.77.30 and .31), joined by a veth pair.
# Usage: two_hosts.sh <VexaPrinter> <box-script>   (commands over HTTP to port 12380)
# Needs root for ip netns; exits 77 (skipped) without it.
set -u
SERVICE_BIN=$1 BOX_SCRIPT=$2
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "SKIP: needs root and iproute2"; exit 77
fi

SVC=vexa-svc-$$ BOX=vexa-box-$$
# Namespaces left by an earlier run that was killed outright (no trap runs on SIGKILL).
for ns in $(ip netns list | grep -oE '^vexa-(svc|box)-[0-9]+'); do
    kill -0 "${ns##*-}" 2>/dev/null && continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
done
WORK=$(mktemp -d /tmp/vexa-2hosts.XXXXXX)
cleanup() {
    for ns in "$SVC" "$BOX"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
        ip netns del "$ns" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

set -e
ip netns add "$SVC"
ip netns add "$BOX"
# The pair is created inside the namespaces: the host's own interfaces are never touched.
ip -n "$SVC" link add vxs type veth peer name vxb netns "$BOX"
ip -n "$SVC" link set lo up
ip -n "$SVC" addr add 192.168.77.20/24 dev vxs
ip -n "$SVC" link set vxs up
ip -n "$SVC" route add 224.0.0.0/4 dev vxs
ip -n "$BOX" link set lo up
ip -n "$BOX" addr add 192.168.77.30/24 dev vxb
ip -n "$BOX" addr add 192.168.77.31/24 dev vxb
ip -n "$BOX" link set vxb up
ip -n "$BOX" route add 224.0.0.0/4 dev vxb

# The service keeps its files beside the executable.
cp "$SERVICE_BIN" "$WORK/$(basename "$SERVICE_BIN")"
mkdir -m 700 -p "$WORK/runtime"
set +e
# Bounded well inside the CTest time-out, so the trap always gets to clean up.
timeout -k 5 75 ip netns exec "$BOX" env TMPDIR="$WORK" python3 "$BOX_SCRIPT" --svc-ns "$SVC" \
    --service "$WORK/$(basename "$SERVICE_BIN")" --dir "$WORK"
