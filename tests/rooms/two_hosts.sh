#!/bin/bash
# The service (192.168.77.20) in the test's own namespace, the boxes (.30, .31) in one made here, on a veth
# pair. Usage: two_hosts.sh <VexaPrinter> <box script>
set -u
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "SKIP: needs root and iproute2"
    exit 77
fi
bin=$1 script=$2 box=vexa-box-$$ work=$(mktemp -d /tmp/vexa-2hosts.XXXXXX)
trap 'kill -9 $(jobs -p); ip netns del "$box"; rm -rf "$work"' EXIT
set -e
ip netns add "$box"
ip link add vxs type veth peer name vxb netns "$box"
ip addr add 192.168.77.20/24 dev vxs
ip link set vxs up
ip route add 224.0.0.0/4 dev vxs
ip -n "$box" addr add 192.168.77.30/24 dev vxb
ip -n "$box" addr add 192.168.77.31/24 dev vxb
ip -n "$box" link set lo up
ip -n "$box" link set vxb up
ip -n "$box" route add 224.0.0.0/4 dev vxb
cp "$bin" "$work/VexaPrinter"
QT_QPA_PLATFORM=offscreen "$work/VexaPrinter" >"$work/out" 2>&1 </dev/null &
# Inside the CTest time-out, so the trap gets to clean up.
if ! timeout -k 5 75 ip netns exec "$box" python3 "$script"; then
    tail -c 4000 "$work/out"
    exit 1
fi
