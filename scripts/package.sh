#!/bin/bash
# Builds the Debian package into build/package/: installs the build dependencies, builds, runs cpack.
# Install the result with: sudo apt-get install ./build/package/vexaprinter_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
scripts/build.sh "$@"
cd build
cpack -G DEB -B package >/dev/null
deb=$(ls -t package/vexaprinter_*.deb | head -n1)
echo "package: build/$deb ($(du -h "$deb" | cut -f1))"
