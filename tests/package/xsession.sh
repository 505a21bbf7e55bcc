#!/bin/bash
# Runs a command on a private X display: Xvfb 1024x768x24, no window manager (so a window sits at
# 0,0 without decorations and screenshots are repeatable), optionally a tray host (trayer).
# Usage: xsession.sh [--tray] command [args...]   Exports DISPLAY; prints nothing on success.
# Exit 77 (skip) when Xvfb (or trayer with --tray) is not installed.
set -u

bTray=0
if [ "${1:-}" = --tray ]; then
    bTray=1
    shift
fi
for tool in Xvfb xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [ $bTray = 1 ] && ! command -v trayer >/dev/null; then
    echo "SKIP: trayer is not installed"
    exit 77
fi

dir=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

# -displayfd: the server picks a free display number and writes it, so parallel tests never clash.
# -noreset: the server would otherwise reset whenever its last client leaves, and a client that
# connects during the reset fails.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -dpi 96 -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
done
if [ ! -s "$dir/display" ]; then
    echo "Xvfb did not start:"; cat "$dir/xvfb.log"
    exit 1
fi
export DISPLAY=":$(head -n1 "$dir/display")"
for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

startTray() {
    trayer --edge top --align right --widthtype request --height 32 --transparent false \
           --SetDockType false 2>"$dir/trayer.log" &
    pids+=($!)
    for _ in $(seq 100); do
        xwininfo -root -tree 2>/dev/null | grep -q '("panel" "trayer")' && return 0
        sleep 0.1
    done
    echo "trayer did not start:"
    cat "$dir/trayer.log"
    return 1
}
if [ $bTray = 1 ]; then
    startTray || startTray || exit 1
fi

"$@"
rc=$?
exit $rc
