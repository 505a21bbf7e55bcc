#!/bin/bash
# Start-up time: exec of the service until port 12380 accepts a connection, median of 10 starts.
# Usage: benchmarks/startup/run.sh [starts]   (VEXA_BIN overrides the binary)
set -euo pipefail
. "$(dirname "$0")/../tools/prologue.sh"

WORK=$(mktemp -d /tmp/vexa-startup.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cp "$BIN" "$WORK/VexaPrinter"
cd "$WORK"
# One untimed start first, so every timed start finds the libraries in the page cache.
QT_QPA_PLATFORM=offscreen python3 "$HERE/startup.py" ./VexaPrinter 1 >/dev/null
QT_QPA_PLATFORM=offscreen python3 "$HERE/startup.py" ./VexaPrinter "${1:-10}"
