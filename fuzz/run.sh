#!/bin/bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in a build directory of their own and runs
# each for a bounded time inside a private network namespace. Fails on a crash, a leak or a hang.
# Usage: fuzz/run.sh [seconds per target] [target ...]     (FUZZ_BUILD_DIR overrides build-fuzz)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
SECONDS_EACH=${1:-30}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(fuzz_http_parser fuzz_dispatch fuzz_printer_config fuzz_updater_datagram fuzz_room_datagram
  fuzz_subtitle_conf)

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXA_FUZZ=ON -DVEXA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target "${TARGETS[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/fuzz/lsan.supp:print_suppressions=0}
FAILED=()
for TARGET in "${TARGETS[@]}"; do
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  WORK="$BUILD/corpus/$TARGET"
  mkdir -p "$WORK" "$BUILD/artifacts"
  echo "== $TARGET (${SECONDS_EACH}s)"
  if ! "$ROOT/tests/common/run-isolated.sh" "$BUILD/fuzz/$TARGET" -max_total_time="$SECONDS_EACH" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$TARGET-" \
      "$WORK" "$ROOT/fuzz/corpus/$TARGET" >"$BUILD/$TARGET.log" 2>&1; then
    tail -40 "$BUILD/$TARGET.log"
    FAILED+=("$TARGET")
  else
    grep -E '^stat::number_of_executed_units|^Done' "$BUILD/$TARGET.log" || true
  fi
done
if [ ${#FAILED[@]} -gt 0 ]; then
  echo "fuzzing FAILED: ${FAILED[*]} (inputs in $BUILD/artifacts)" >&2
  exit 1
fi
echo "fuzzing passed: ${TARGETS[*]}"
