#!/bin/bash
# Installs what is missing, builds, starts the local services the tests print to, runs the fuzz
# targets for a bounded time, then every test. With a Qt for Windows at hand it also cross-builds
# the Windows program, and its tests under wine (label "windows") must run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/check-includes.sh  # an include that points up fails before anything is built
dist=""
if [ -n "${VEXA_QT_WIN:-}" ] || [ -f "$HOME/.cache/vexaprinter/qt5-win64/.vexaprinter-complete" ] ||
    [ -f ../shared/qt5-win64.tar.xz ]; then
  dist=$(scripts/build-windows.sh | tail -n 1)
else
  echo "test: the windows group is skipped: no Qt for Windows (\$VEXA_QT_WIN, ~/.cache/vexaprinter/qt5-win64," \
    "../shared/qt5-win64.tar.xz); scripts/build-qt-windows.sh --from-source builds one"
fi
scripts/build.sh -DVEXA_BUILD_TESTS=ON -DVEXA_WINDOWS_DIST="$dist"
if [ -x scripts/test-services.sh ]; then
  scripts/test-services.sh
fi
fuzz/run.sh 30  # every fuzz target for 30 s: fails on a crash, a leak or a hang
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
if [ -n "$dist" ] && [ "$(grep -c '^[0-9]*/[0-9]* Test: windows_' Testing/Temporary/LastTest.log)" -lt 3 ]; then
  echo "test: a Qt for Windows is at hand, but the windows group did not run" >&2
  exit 1
fi
