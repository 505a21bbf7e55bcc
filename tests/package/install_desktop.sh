#!/bin/bash
# The Debian package on Xvfb with a tray host: the program started as the menu does, its window, tray icon and
# per-user copy; after an upgrade the autostart entry runs the new one. Usage: install_desktop.sh <build dir>
set -euo pipefail
buildDir=$1 entry=/usr/share/applications/vexaprinter.desktop
home=$TMPDIR/home appDir=$TMPDIR/home/.local/share/vexaprinter exe=/usr/lib/vexaprinter/VexaPrinter
pids=()

fail() {
    echo "FAIL: $*"
    exit 1
}
skip() {
    echo "SKIP: $*"
    exit 77
}
waitFor() { # up to $1 tenths of a second
    for _ in $(seq "$1"); do
        if "${@:2}" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}
isGone() { [[ $(ps -o stat= -p "$1") != [^Z]* ]]; } # an ended child stays a zombie until waited for
xwin() { # the first window of class $1 under the window named by the rest
    xwininfo -tree "${@:2}" | awk -v class="$1" 'index($0, class) {print $1; found = 1; exit} END {exit !found}'
}
asUser=(env -u QT_QPA_PLATFORM -u QT_QUICK_BACKEND -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" sh -c)
startAsUser() { # as the desktop would start it
    "${asUser[@]}" "exec $1" >"$TMPDIR/app.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    waitFor 200 xdotool search --name '^Corvel打印控件 V' || fail "$1 showed no window: $(cat "$TMPDIR/app.log")"
}
quitAndWait() {
    "${asUser[@]}" "exec $cmd quit"
    waitFor 150 isGone "$pid" || fail "the program did not quit on 'vexaprinter quit'"
    wait "$pid" || fail "the program exited with $?"
}
startTray() {
    trayer --edge top --align right --widthtype request --height 32 --transparent false --SetDockType false &
    pids+=($!)
    waitFor 100 xwin '("panel" "trayer")' -root
}

[ "$(id -u)" = 0 ] || skip "installing a package needs root"
for tool in cpack apt-get xdotool xwininfo Xvfb trayer; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
cpack -G DEB --config "$buildDir/CPackConfig.cmake" -B "$TMPDIR/pkg" >"$TMPDIR/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$TMPDIR/cpack.log")"
deb=$(ls "$TMPDIR"/pkg/vexaprinter_*.deb)
restore='dpkg -r vexaprinter'
if dpkg-query -W -f='${Status}' vexaprinter 2>/dev/null | grep -q "install ok installed"; then
    restore='apt-get install -y -q --reinstall --allow-downgrades -o DPkg::Lock::Timeout=120 "$deb"'
fi
trap 'set +e; kill "${pids[@]}" 2>/dev/null; wait; '"$restore"' >/dev/null 2>&1' EXIT
# scripts/install-deps.sh installed every dependency: there is no network here.
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=120 \
    --reinstall "$deb" >"$TMPDIR/apt.log" 2>&1 || fail "$(cat "$TMPDIR/apt.log")"
[ -f /usr/share/vexaprinter/testpage.html ] || fail "the test page is not installed"

# -noreset: else a client connecting while the server resets fails.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -dpi 96 -noreset 3>"$TMPDIR/display" 2>/dev/null &
pids+=($!)
waitFor 100 test -s "$TMPDIR/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$TMPDIR/display")"
startTray || startTray || fail "trayer did not start"

cmd=$(sed -n 's/^Exec=//p' "$entry" | sed 's/ *%[a-zA-Z]//g') # as a menu runs it, no field codes
mkdir -p "$home"
startAsUser "$cmd"
panel=$(xwin '("panel" "trayer")' -root)
waitFor 100 xwin '("VexaPrinter" "VexaPrinter")' -id "$panel" || fail "no tray icon docked in the tray host"
cmp -s "$exe" "$appDir/VexaPrinter" || fail "no per-user copy in $appDir"
waitFor 50 sh -c "ls '$appDir'/logs/PrinterLog_*.log" || fail "no log file in $appDir/logs"
[ ! -e /usr/lib/vexaprinter/logs ] || fail "the service wrote into /usr/lib/vexaprinter"
quitAndWait

# The window's switch wrote an autostart entry at the first start.
autostart=$home/.config/autostart/VexaPrinter.desktop
[ -f "$autostart" ] || fail "the window's switch wrote no autostart entry $autostart"
printf 'upgraded' >>"$exe"
startAsUser "$(sed -n 's/^Exec=//p' "$autostart")"
cmp -s "/proc/$pid/exe" "$exe" || fail "after the upgrade the autostart entry ran a stale copy"
quitAndWait
