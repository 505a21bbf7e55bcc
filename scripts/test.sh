#!/bin/bash
# Installs what is missing, builds, starts the local services the tests print to, runs the fuzz
# targets for a bounded time, then every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/check-includes.sh  # an include that points up fails before anything is built
scripts/build.sh -DVEXA_BUILD_TESTS=ON
if [ -x scripts/test-services.sh ]; then
  scripts/test-services.sh
fi
fuzz/run.sh 30  # every fuzz target for 30 s: fails on a crash, a leak or a hang
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
