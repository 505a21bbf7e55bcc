#!/bin/bash
# Memory of the service while one client pipelines "GetRoomArea" against a 1 MiB room area and
# never reads its replies, and whether another client is still answered meanwhile.
# Usage: benchmarks/memory/flood.sh [max requests] [seconds]   (VEXA_BIN overrides the binary)
set -euo pipefail
. "$(dirname "$0")/../tools/prologue.sh"
REQUESTS=${1:-1000000}
SECONDS_TO_FLOOD=${2:-20}

WORK=$(mktemp -d /tmp/vexa-flood.XXXXXX)
cleanup() { kill "${SERVICE_PID:-}" "${FLOOD_PID:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"; }
trap cleanup EXIT

# A room area of 1 MiB: rooms with a few fields each, as the page stores them.
python3 -c '
import json
rooms = [{"name": "room-%05d" % i, "area": "floor-%d" % (i % 7), "seats": i % 40} for i in range(20000)]
doc = {"Msg": "SetRoomArea", "data": rooms}
text = json.dumps(doc)
while len(text) < 1048576:
    rooms.append({"name": "extra-%05d" % len(rooms), "area": "x", "seats": 1}); text = json.dumps(doc)
print(text)' >"$WORK/RoomArea.json"
cp "$BIN" "$WORK/VexaPrinter"
(cd "$WORK" && QT_QPA_PLATFORM=offscreen exec ./VexaPrinter >"$WORK/service.out" 2>&1) &
SERVICE_PID=$!
for _ in $(seq 300); do (exec 3<>/dev/tcp/127.0.0.1/12380) 2>/dev/null && break; sleep 0.1; done
sleep 2

rss_kib() { awk '/^VmRSS/ { print $2 }' /proc/"$SERVICE_PID"/status; }
RSS_BEFORE=$(rss_kib)
echo "room area: $(stat -c %s "$WORK/RoomArea.json") bytes; service RSS before: $((RSS_BEFORE / 1024)) MiB"
python3 "$HERE/flood_client.py" "$REQUESTS" "$SECONDS_TO_FLOOD" >"$WORK/flood.out" &
FLOOD_PID=$!
PEAK=$RSS_BEFORE
while kill -0 "$FLOOD_PID" 2>/dev/null && kill -0 "$SERVICE_PID" 2>/dev/null; do
  r=$(rss_kib); [ "$r" -gt "$PEAK" ] && PEAK=$r; sleep 0.2
done
wait "$FLOOD_PID" && FLOOD_OK=yes || FLOOD_OK=NO
cat "$WORK/flood.out"
kill -0 "$SERVICE_PID" 2>/dev/null || echo "the service died"
echo "RSS peak $((PEAK / 1024)) MiB = +$(( (PEAK - RSS_BEFORE) / 1024 )) MiB over before (target < 64 MiB); other client always answered within 5 s: $FLOOD_OK"
