#!/bin/bash
# Receipt benchmark: builds bench_receipt, makes sure the CUPS test queues exist, and runs it in a
# private network namespace. Pass --http to time HTTP POSTs to the real service instead of the
# in-process command dispatcher.
set -euo pipefail
cd "$(dirname "$0")/../.."
[ -d build ] || cmake -S . -B build
cmake --build build -j2 --target bench_receipt VexaPrinter
scripts/test-services.sh
VEXA_BIN=$PWD/build/VexaPrinter QT_QPA_PLATFORM=offscreen \
  tests/common/run-isolated.sh build/tests/printing/bench_receipt "$@"
