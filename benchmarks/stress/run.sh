#!/bin/bash
# Stress and equivalence runs, by hand (not part of the test suite): builds them and runs each in a
# private network namespace (root needed). Usage: benchmarks/stress/run.sh [abuse|equivalence ...]
set -euo pipefail
cd "$(dirname "$0")/../.."
[ -d build ] || cmake -S . -B build -DVEXA_BUILD_TESTS=ON
names=(${@:-abuse equivalence})
cmake --build build -j2 --target "${names[@]/#/stress_}"
rc=0
for name in "${names[@]}"; do
  echo "== $name"
  env QT_QPA_PLATFORM=offscreen tests/common/run-isolated.sh "build/benchmarks/stress_$name" || rc=1
done
exit $rc
