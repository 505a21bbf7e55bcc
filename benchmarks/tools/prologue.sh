# Sourced first by the benchmark scripts: where things are, which binary to measure (VEXA_BIN
# overrides it), and a re-run of the calling script inside a private network namespace, because the
# service binds fixed ports and broadcasts.
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BIN=${VEXA_BIN:-$ROOT/build/VexaPrinter}
TOOLS=$ROOT/benchmarks/tools
if [ -z "${VEXA_BENCH_ISOLATED:-}" ]; then
  exec env VEXA_BENCH_ISOLATED=1 "$ROOT/tests/common/run-isolated.sh" "$0" "$@"
fi
