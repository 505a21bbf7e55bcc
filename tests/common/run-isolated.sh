#!/bin/bash
# Runs one test in a private network and IPC namespace: the service's fixed ports, broadcasts and
# single-instance marker then never touch the host or another test running in parallel.
set -e
exec unshare --net --ipc -- bash -c '
  ip link set lo up
  export TMPDIR=$(mktemp -d /tmp/vexa-test.XXXXXX)
  export XDG_RUNTIME_DIR=$TMPDIR/runtime; mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  "$@"; rc=$?
  rm -rf "$TMPDIR"
  exit $rc' vexa-isolated "$@"
