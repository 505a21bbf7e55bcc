#!/bin/bash
# The service (192.168.77.20/24) and set-top boxes (.30, .31) in two namespaces joined by a veth pair made
# inside them, the host untouched. Usage: two_hosts.sh <VexaPrinter> <box-script> (root; else 77, skipped)
set -u
[ "$(id -u)" = 0 ] && command -v ip >/dev/null || { echo "SKIP: needs root and iproute2"; exit 77; }
SERVICE_BIN=$1 BOX_SCRIPT=$2 SVC=vexa-svc-$$ BOX=vexa-box-$$ WORK=$(mktemp -d /tmp/vexa-2hosts.XXXXXX)
trap 'ip netns pids "$SVC" 2>/dev/null | xargs -r kill -9; ip netns del "$SVC"; ip netns del "$BOX"; rm -rf "$WORK"' EXIT
set -e
ip netns add "$SVC"; ip netns add "$BOX"
ip -n "$SVC" link add vxs type veth peer name vxb netns "$BOX"
ip -n "$SVC" addr add 192.168.77.20/24 dev vxs
for host in 30 31; do ip -n "$BOX" addr add 192.168.77.$host/24 dev vxb; done
for ns_dev in "$SVC vxs" "$BOX vxb"; do
    set -- $ns_dev
    ip -n "$1" link set lo up; ip -n "$1" link set "$2" up; ip -n "$1" route add 224.0.0.0/4 dev "$2"
done
cp "$SERVICE_BIN" "$WORK/VexaPrinter"  # it keeps its files beside the executable
ip netns exec "$SVC" unshare --ipc -- env QT_QPA_PLATFORM=offscreen "$WORK/VexaPrinter" >"$WORK/service.out" 2>&1 </dev/null &
# Bounded well inside the CTest time-out, so the trap always gets to clean up.
timeout -k 5 75 ip netns exec "$BOX" python3 "$BOX_SCRIPT" || { rc=$?; tail -c 4000 "$WORK/service.out"; exit $rc; }
