#!/bin/bash
# The service (192.168.77.20) and boxes (.30, .31) in two namespaces on a veth pair made inside them.
# Usage: two_hosts.sh <VexaPrinter> <box script>
set -u
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "SKIP: needs root and iproute2"
    exit 77
fi
bin=$1 script=$2 svc=vexa-svc-$$ box=vexa-box-$$ work=$(mktemp -d /tmp/vexa-2hosts.XXXXXX)
trap 'ip netns pids "$svc" | xargs -r kill -9; ip netns del "$svc"; ip netns del "$box"; rm -rf "$work"' EXIT
set -e
ip netns add "$svc"
ip netns add "$box"
ip -n "$svc" link add vxs type veth peer name vxb netns "$box"
ip -n "$svc" addr add 192.168.77.20/24 dev vxs
ip -n "$box" addr add 192.168.77.30/24 dev vxb
ip -n "$box" addr add 192.168.77.31/24 dev vxb
for ns in "$svc vxs" "$box vxb"; do
    set -- $ns
    ip -n "$1" link set lo up
    ip -n "$1" link set "$2" up
    ip -n "$1" route add 224.0.0.0/4 dev "$2"
done
cp "$bin" "$work/VexaPrinter"
ip netns exec "$svc" unshare --ipc -- env QT_QPA_PLATFORM=offscreen "$work/VexaPrinter" >"$work/out" 2>&1 </dev/null &
# Inside the CTest time-out, so the trap gets to clean up.
if ! timeout -k 5 75 ip netns exec "$box" python3 "$script"; then
    tail -c 4000 "$work/out"
    exit 1
fi
