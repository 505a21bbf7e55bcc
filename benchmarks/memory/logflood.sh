#!/bin/bash
# Memory of the service while its log writer cannot keep up and clients send large bodies. The
# writer is held up for good by making today's log file a FIFO that nobody reads (an idle-priority
# thread on a busy CPU behaves alike, only less predictably); the queued lines then stay in memory.
# Usage: benchmarks/memory/logflood.sh [requests] [body MiB]
set -euo pipefail
. "$(dirname "$0")/../tools/prologue.sh"
REQUESTS=${1:-100}
BODY_MIB=${2:-4}

WORK=$(mktemp -d /tmp/vexa-logflood.XXXXXX)
cleanup() { kill "${SERVICE_PID:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"; }
trap cleanup EXIT

cp "$BIN" "$WORK/VexaPrinter"
mkdir -p "$WORK/logs" "$WORK/home"
mkfifo "$WORK/logs/PrinterLog_$(date +%F).log"
(cd "$WORK" && HOME=$WORK/home QT_QPA_PLATFORM=offscreen exec ./VexaPrinter >"$WORK/service.out" 2>&1) &
SERVICE_PID=$!
for _ in $(seq 300); do (exec 3<>/dev/tcp/127.0.0.1/12380) 2>/dev/null && break; sleep 0.1; done

{ printf '{"Msg":"InfoData","pad":"'; head -c $((BODY_MIB * 1048576)) /dev/zero | tr '\0' x; printf '"}'; } >"$WORK/body"
rss_mib() { awk '/^VmRSS/ { printf "%.0f", $2 / 1024 }' /proc/"$SERVICE_PID"/status; }
echo "idle: $(rss_mib) MiB"
PEAK=0
for i in $(seq "$REQUESTS"); do
  curl -s -o /dev/null -H 'Expect:' -H 'Content-Type: text/plain' --data-binary @"$WORK/body" http://127.0.0.1:12380/
  r=$(rss_mib); [ "$r" -gt "$PEAK" ] && PEAK=$r
  [ $((i % 25)) = 0 ] && echo "after $i bodies of $BODY_MIB MiB: $r MiB"
done
echo "peak RSS over $REQUESTS bodies of $BODY_MIB MiB with the log writer held up: $PEAK MiB"
