#!/bin/bash
# Runs a command on a private X display: Xvfb 1024x768x24, no window manager (so a window sits at 0,0
# without decorations and screenshots are repeatable), with --tray a tray host (trayer).
# Usage: xsession.sh [--tray] command [args...]   Exports DISPLAY. Exit 77 (skip) when a tool is missing.
set -u
tray=
[ "${1:-}" = --tray ] && tray=1 && shift
for tool in Xvfb xdpyinfo ${tray:+trayer xwininfo}; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
waitFor() {  # up to 10 s for the shell condition
    for _ in $(seq 100); do eval "$1" && return 0; sleep 0.1; done
    return 1
}

# -displayfd: the server picks a free display number, so parallel tests never clash. -noreset: else it
# resets whenever its last client leaves, and a client that connects during the reset fails.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -dpi 96 -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
pids+=($!)
waitFor '[ -s "$dir/display" ]' || { echo "Xvfb did not start:"; cat "$dir/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$dir/display")"
waitFor 'xdpyinfo >/dev/null 2>&1'

startTray() {
    trayer --edge top --align right --widthtype request --height 32 --transparent false --SetDockType false 2>"$dir/trayer.log" &
    pids+=($!)
    waitFor "xwininfo -root -tree 2>/dev/null | grep -q '(\"panel\" \"trayer\")'" || { echo "trayer did not start:"; cat "$dir/trayer.log"; return 1; }
}
[ -z "$tray" ] || startTray || startTray || exit 1
"$@"
