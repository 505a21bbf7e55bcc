#!/bin/bash
# Printer query latency on a "desktop": avahi-daemon running (in a private network namespace with
# a veth to a second one, on a private system bus; tests/printing/with-avahi.sh).
#   1. the local cupsd (scripts/test-services.sh): "PrinterStatus", and "InfoData" sent during it;
#   2. a private cupsd stopped with SIGSTOP: the same two (each round waits for the query bound).
# Usage: benchmarks/printers/run.sh [rounds] [hung-rounds]   (VEXA_BIN overrides the service binary)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BIN=${VEXA_BIN:-$ROOT/build/VexaPrinter}
ROUNDS=${1:-20}
HUNG_ROUNDS=${2:-3}

# The service binds fixed ports and broadcasts; avahi sends multicast: a private network namespace.
if [ -z "${VEXA_BENCH_ISOLATED:-}" ]; then
  exec env VEXA_BENCH_ISOLATED=1 VEXA_PRIVATE_CUPSD=1 "$ROOT/tests/common/run-isolated.sh" \
    "$ROOT/tests/printing/with-avahi.sh" "$0" "$@"
fi

WORK=$(mktemp -d /tmp/vexa-bench.XXXXXX)
cleanup() {
  kill -CONT "$VEXA_CUPSD_PID" 2>/dev/null || true
  [ -n "${SERVICE_PID:-}" ] && kill "$SERVICE_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
cp "$BIN" "$WORK/VexaPrinter"

start_service() {  # extra environment assignments...
  (cd "$WORK" && exec env QT_QPA_PLATFORM=offscreen "$@" ./VexaPrinter >"$WORK/service.out" 2>&1) &
  SERVICE_PID=$!
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/12380) 2>/dev/null && return 0; sleep 0.1; done
  echo "port 12380 not up" >&2
  exit 1
}
stop_service() { kill "$SERVICE_PID"; wait "$SERVICE_PID" 2>/dev/null || true; SERVICE_PID=; }

echo "service: $BIN"
echo "local cupsd, avahi-daemon running ($ROUNDS rounds):"
start_service
python3 "$HERE/latency.py" "$ROUNDS" 10
stop_service

echo "private cupsd stopped with SIGSTOP ($HUNG_ROUNDS rounds, 10 s limit per request):"
start_service CUPS_SERVER="$VEXA_CUPSD_SOCKET"
kill -STOP "$VEXA_CUPSD_PID"
python3 "$HERE/latency.py" "$HUNG_ROUNDS" 10
kill -CONT "$VEXA_CUPSD_PID"
stop_service
