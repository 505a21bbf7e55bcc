#!/bin/bash
# Start-up time: exec of the service until port 12380 accepts a connection, median of 10 starts.
# Usage: benchmarks/startup/run.sh [starts]   (VEXA_BIN / VEXA_SOAK override the binaries)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BIN=${VEXA_BIN:-$ROOT/build/VexaPrinter}
SOAK=${VEXA_SOAK:-$ROOT/build/benchmarks/vexa_soak}

if [ -z "${VEXA_BENCH_ISOLATED:-}" ]; then
  exec env VEXA_BENCH_ISOLATED=1 "$ROOT/tests/common/run-isolated.sh" "$0" "$@"
fi

WORK=$(mktemp -d /tmp/vexa-startup.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cp "$BIN" "$WORK/VexaPrinter"
cd "$WORK"
# One untimed start first, so every timed start finds the libraries in the page cache.
QT_QPA_PLATFORM=offscreen "$SOAK" startup --exec ./VexaPrinter --runs 1 >/dev/null
QT_QPA_PLATFORM=offscreen "$SOAK" startup --exec ./VexaPrinter --runs "${1:-10}"
