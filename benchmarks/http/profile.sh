#!/bin/bash
# Where the service spends its instructions while answering "InfoData" with logging on:
# callgrind over a fixed number of requests (the startup is not collected).
# Usage: benchmarks/http/profile.sh [requests]   (VEXA_BIN overrides the binary)
# Prints the top functions by self cost and by inclusive cost; the raw file is kept in /tmp.
set -euo pipefail
. "$(dirname "$0")/../tools/prologue.sh"
REQUESTS=${1:-20000}

WORK=$(mktemp -d /tmp/vexa-profile.XXXXXX)
OUT=/tmp/vexa-callgrind.$(date +%s).out
cleanup() { kill "${SERVICE_PID:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"; }
trap cleanup EXIT

cp "$BIN" "$WORK/VexaPrinter"
(cd "$WORK" && QT_QPA_PLATFORM=offscreen exec valgrind --tool=callgrind --instr-atstart=no \
   --callgrind-out-file="$OUT" ./VexaPrinter >"$WORK/service.out" 2>&1) &
SERVICE_PID=$!
for _ in $(seq 600); do (exec 3<>/dev/tcp/127.0.0.1/12380) 2>/dev/null && break; sleep 0.1; done
# The port opens before the window is loaded; wait until start-up work has stopped burning CPU.
cpu() { awk '{ print $14 + $15 }' /proc/"$SERVICE_PID"/stat; }
last=-1; while [ "$(cpu)" != "$last" ]; do last=$(cpu); sleep 2; done
callgrind_control -i on "$SERVICE_PID" >/dev/null
"$TOOLS/soak.sh" http://127.0.0.1:12380/ 50 "$REQUESTS" InfoData
sleep 1.5   # let the log writer take its batch: its cost belongs to the requests
callgrind_control -d "$SERVICE_PID" >/dev/null
kill "$SERVICE_PID"; wait "$SERVICE_PID" 2>/dev/null || true
DUMP="$OUT.1"   # the dump requested above; the file written at exit is empty
echo "== self cost (instructions), top 25; raw data: $DUMP"
callgrind_annotate --threshold=100 "$DUMP" 2>/dev/null | sed -n '/^Ir/,$p' | sed -n '3,27p'
echo "== inclusive cost, top 30"
callgrind_annotate --inclusive=yes --threshold=100 "$DUMP" 2>/dev/null | sed -n '/^Ir/,$p' | sed -n '3,32p'
