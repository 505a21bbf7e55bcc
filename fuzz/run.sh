#!/bin/bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz and runs each for a bounded time in a
# private network namespace. Fails on a crash, a leak or a hang. Usage: fuzz/run.sh [seconds] [target ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${1:-30}
shift || true
targets=("$@")
if [ ${#targets[@]} = 0 ]; then
    targets=(fuzz_http_parser fuzz_dispatch fuzz_datagram)
fi
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXA_FUZZ=ON \
    -DVEXA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/fuzz/lsan.supp:print_suppressions=0}
mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus/$target" # new inputs, apart from the seeds
    echo "== $target (${seconds}s)"
    if ! "$root/tests/common/run-isolated.sh" "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$build/artifacts/$target-" "$build/corpus/$target" \
        "$root/fuzz/corpus/$target" >"$build/$target.log" 2>&1; then
        tail -40 "$build/$target.log"
        echo "fuzzing FAILED: $target (inputs in $build/artifacts)" >&2
        exit 1
    fi
done
echo "fuzzing passed: ${targets[*]}"
