#!/bin/bash
# Installs what is missing, builds, and runs the service from ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
scripts/build.sh -DVEXA_BUILD_TESTS=OFF
exec build/VexaPrinter "$@"
