#!/bin/bash
# Memory of the service: RSS idle, with 1000 idle keep-alive connections, after 1 000 000 mixed
# requests (InfoData, GetRoomArea, refusals, pipelined pairs) and after the log writer drained.
# Usage: benchmarks/memory/run.sh [requests] [idle connections]
set -euo pipefail
. "$(dirname "$0")/../tools/prologue.sh"
REQUESTS=${1:-1000000}
HELD=${2:-1000}
URL=http://127.0.0.1:12380/

WORK=$(mktemp -d /tmp/vexa-memory.XXXXXX)
cleanup() { kill "${HOLD_PID:-}" "${SERVICE_PID:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"; }
trap cleanup EXIT
ulimit -n 8192   # the service and wrk each hold more than 1000 sockets

cp "$BIN" "$WORK/VexaPrinter"
(cd "$WORK" && QT_QPA_PLATFORM=offscreen exec ./VexaPrinter >"$WORK/service.out" 2>&1) &
SERVICE_PID=$!
for _ in $(seq 300); do (exec 3<>/dev/tcp/127.0.0.1/12380) 2>/dev/null && break; sleep 0.1; done

rss_kib() { awk '/^VmRSS/ { print $2 }' /proc/"$SERVICE_PID"/status; }
cpu() { awk '{ print $14 + $15 }' /proc/"$SERVICE_PID"/stat; }
log_lines() { cat "$WORK"/logs/PrinterLog_*.log 2>/dev/null | wc -l; }
settle() { local last=-1; while [ "$(cpu)" != "$last" ]; do last=$(cpu); sleep 1; done; }
# Waits until the log file stops growing for 3 s: the writer has taken everything queued.
drain() { local last=-1 now; while true; do now=$(log_lines); [ "$now" = "$last" ] && return; last=$now; sleep 3; done; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

settle; drain
RSS_IDLE=$(rss_kib)
echo "idle after start:            $(mib "$RSS_IDLE")  (target < 60 MiB)"

# One wrk thread opens the connections; each sends one request, then stays open and idle until SIGINT.
wrk -t1 -c"$HELD" -d24h -s "$TOOLS/checked.lua" "$URL" -- "$HELD" hold InfoData >"$WORK/hold.out" 2>"$WORK/hold.err" &
HOLD_PID=$!
for _ in $(seq 600); do grep -q holding "$WORK/hold.err" && break; sleep 0.1; done
settle
RSS_HELD=$(rss_kib)
echo "with $HELD idle connections: $(mib "$RSS_HELD")  = $(( (RSS_HELD - RSS_IDLE) * 1024 / HELD )) bytes per connection (target < 8192; includes their log lines still queued)"
kill -INT "$HOLD_PID"
wait "$HOLD_PID"
HOLD_PID=
settle; drain
RSS_BEFORE=$(rss_kib)
echo "before the soak:             $(mib "$RSS_BEFORE")  (log lines written so far: $(log_lines))"

LINES_BEFORE=$(log_lines)
# 50 connections, every reply checked: 40 send single requests of four kinds in turn, 10 pipelined
# pairs (wrk keeps one pipeline depth per run, hence two runs side by side).
"$TOOLS/soak.sh" "$URL" 40 $((REQUESTS * 4 / 5)) InfoData GetRoomArea NoSuchCommand NotJson >"$WORK/singles.out" &
SINGLES_PID=$!
"$TOOLS/soak.sh" "$URL" 10 $((REQUESTS / 5)) InfoData+GetRoomArea >"$WORK/pairs.out" &
PAIRS_PID=$!
PEAK=0
while kill -0 "$SINGLES_PID" 2>/dev/null || kill -0 "$PAIRS_PID" 2>/dev/null; do
  r=$(rss_kib); [ "$r" -gt "$PEAK" ] && PEAK=$r; sleep 1
done
SOAK_OK=yes
wait "$SINGLES_PID" || SOAK_OK=NO
wait "$PAIRS_PID" || SOAK_OK=NO
for part in singles pairs; do echo "  $part: $(grep -E '^(requests|FAILED)' "$WORK/$part.out" | tr '\n' ' ')"; done
RSS_AFTER=$(rss_kib)
WRITTEN_AT_END=$(log_lines)
echo "right after the soak:        $(mib "$RSS_AFTER")  (peak seen $(mib "$PEAK")); every request answered: $SOAK_OK"
T0=$(date +%s)
drain
LINES_TOTAL=$(log_lines)
RSS_DRAINED=$(rss_kib)
echo "log lines of the soak: $((LINES_TOTAL - LINES_BEFORE)); still queued when the soak ended: $((LINES_TOTAL - WRITTEN_AT_END)); drained in ~$(( $(date +%s) - T0 )) s"
awk -v a="$RSS_DRAINED" -v b="$RSS_BEFORE" 'BEGIN {
  printf "after the drain:             %.1f MiB = %+.1f %% against before the soak (target: at most 10 %% above)\n", a / 1024, (a - b) * 100 / b }'
