#!/bin/bash
# Runs one test in a private network and IPC namespace (fixed ports, broadcasts, the single-instance marker),
# with a home of its own: the window's switch writes an autostart entry for the running program.
set -e
exec unshare --net --ipc -- bash -c '
  ip link set lo up
  export TMPDIR=$(mktemp -d /tmp/vexa-test.XXXXXX)
  export XDG_RUNTIME_DIR=$TMPDIR/runtime; mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  export HOME=$TMPDIR/home
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
  "$@"; rc=$?
  rm -rf "$TMPDIR"
  exit $rc' vexa-isolated "$@"
