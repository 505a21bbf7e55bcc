#!/bin/bash
# Builds the Debian package, installs it on this machine, starts the program the way the desktop
# menu does (the installed entry's Exec=) on a private X display with a tray host, and checks that
# the window and the tray icon appear and that the program's files land in the user's folder; then
# upgrades the package and checks that the autostart entry the program wrote starts the new program.
# Usage (under tests/common/run-isolated.sh): install_desktop.sh <build dir> <artifact dir>
# Needs root (it installs a package); exit 77 = skipped.
set -euo pipefail

if [ "${1:-}" = --session ]; then
    shift
    mode=session
else
    mode=install
fi
buildDir=$1
artifactDir=$2
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "FAIL: $*"; exit 1; }

# Waits up to $1 tenths of a second for the command that follows to succeed.
waitFor() {
    local nTries=$1
    shift
    for _ in $(seq "$nTries"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# True once the process has ended (a child that ended stays a zombie until it is waited for).
isGone() {
    local strState
    strState=$(ps -o stat= -p "$1") || return 0
    [[ $strState == Z* ]]
}

installPackage() {
    [ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
    for tool in cpack dpkg-deb apt-get xdotool xwininfo import convert; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    local pkgDir=$TMPDIR/pkg
    cpack -G DEB --config "$buildDir/CPackConfig.cmake" -B "$pkgDir" >"$TMPDIR/cpack.log" 2>&1 \
        || { cat "$TMPDIR/cpack.log"; fail "cpack failed"; }
    deb=$(ls "$pkgDir"/vexaprinter_*.deb)
    echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"
    dpkg-deb -f "$deb" Depends | grep -q 'fonts-wqy-microhei' || fail "Depends lacks the CJK font"
    dpkg-deb -f "$deb" Depends | grep -q 'qml-module-qt-labs-platform' || fail "Depends lacks Qt.labs.platform"
    dpkg-deb -f "$deb" Depends | grep -q 'libcups2' || fail "Depends lacks libcups2"

    # Every dependency is installed by scripts/install-deps.sh; this namespace has no network anyway.
    wasInstalled=0
    dpkg-query -W -f='${Status}' vexaprinter 2>/dev/null | grep -q "install ok installed" && wasInstalled=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall --no-install-recommends \
        -o DPkg::Lock::Timeout=120 "$deb" >"$TMPDIR/apt.log" 2>&1 \
        || { cat "$TMPDIR/apt.log"; fail "the package did not install"; }
    if [ $wasInstalled = 0 ]; then
        trap 'dpkg -r vexaprinter >/dev/null 2>&1' EXIT  # leave the machine as it was
    else
        # The session upgrades to a modified build of the package; this build goes back in place.
        trap 'apt-get install -y -q --reinstall --allow-downgrades -o DPkg::Lock::Timeout=120 "$deb" >/dev/null 2>&1' EXIT
    fi

    local entry=/usr/share/applications/vexaprinter.desktop
    [ -f "$entry" ] || fail "no desktop entry $entry"
    for key in '^Name=' '^Icon=vexaprinter$' '^Categories=' '^Type=Application$'; do
        grep -q "$key" "$entry" || fail "desktop entry lacks $key"
    done
    [ -f /usr/share/icons/hicolor/256x256/apps/vexaprinter.png ] || fail "no icon in the hicolor theme"
    [ -f /usr/share/vexaprinter/testpage.html ] || fail "no test page"
    [ -x /usr/lib/vexaprinter/VexaPrinter ] || fail "no program in /usr/lib/vexaprinter"

    VEXA_PACKAGE_DEB=$deb "$here/xsession.sh" --tray "$0" --session "$buildDir" "$artifactDir"
}

# The tray icon is a window of the program docked inside trayer's panel, showing the purple picture.
checkTrayIcon() {
    local panel iconWin nPurple
    waitFor 100 sh -c "xwininfo -root -tree | grep -q '(\"panel\" \"trayer\")'" || fail "no tray host panel"
    panel=$(xwininfo -root -tree | awk '/\("panel" "trayer"\)/ {print $1; exit}')
    waitFor 100 sh -c "xwininfo -tree -id $panel | grep -q '(\"VexaPrinter\" \"VexaPrinter\")'" \
        || { xwininfo -root -tree; fail "no tray icon docked in the tray host"; }
    iconWin=$(xwininfo -tree -id "$panel" | awk '/\("VexaPrinter" "VexaPrinter"\)/ {print $1; exit}')
    import -window "$iconWin" "$artifactDir/install-trayicon.png"
    nPurple=$(convert "$artifactDir/install-trayicon.png" -alpha off -fuzz 20% -fill black +opaque '#7B3FB8' \
              -fill white -opaque '#7B3FB8' -format '%[fx:round(mean*w*h)]' info:)
    [ "$nPurple" -ge 30 ] || fail "the tray icon does not show the picture ($nPurple purple pixels)"
    echo "tray icon: window $iconWin in panel $panel, $nPurple purple pixels"
}

# A package upgrade to a changed program: this package rebuilt with a higher version and a few bytes
# appended to the executable (it still runs).
upgradePackage() {
    local root=$TMPDIR/upgrade newDeb=$TMPDIR/vexaprinter_upgrade.deb
    dpkg-deb -R "$VEXA_PACKAGE_DEB" "$root"
    printf 'upgraded' >>"$root/usr/lib/vexaprinter/VexaPrinter"
    sed -i 's/^Version: .*/&+upgrade1/' "$root/DEBIAN/control"
    (cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
    dpkg-deb --root-owner-group -b "$root" "$newDeb" >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=120 \
        "$newDeb" >"$TMPDIR/apt-upgrade.log" 2>&1 || { cat "$TMPDIR/apt-upgrade.log"; fail "the upgrade did not install"; }
    cmp -s "$root/usr/lib/vexaprinter/VexaPrinter" /usr/lib/vexaprinter/VexaPrinter || fail "the upgrade left the old program"
    echo "upgraded to $(dpkg-query -W -f='${Version}' vexaprinter)"
}

# The window's switch wrote an autostart entry at the first start. After an upgrade the next log-in
# starts that entry: it must go through the launcher, so that the upgraded program runs, not the
# user's old copy.
checkAutostartAfterUpgrade() {
    local home=$1 cmd=$2 entry startCmd pid bUpgradedRuns=1
    entry=$home/.config/autostart/VexaPrinter.desktop
    [ -f "$entry" ] || fail "the window's switch wrote no autostart entry $entry"
    startCmd=$(sed -n 's/^Exec=//p' "$entry" | head -n1)
    echo "autostart entry: Exec=$startCmd"
    upgradePackage

    env -u QT_QPA_PLATFORM -u QT_QUICK_BACKEND -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" \
        sh -c "exec $startCmd" >"$TMPDIR/autostart.log" 2>&1 &
    pid=$!
    waitFor 200 xdotool search --name '^Corvel打印控件 V1\.2\.29' \
        || { cat "$TMPDIR/autostart.log"; kill "$pid"; fail "the autostart entry did not start the program"; }
    # The image that runs, whatever its path: the upgraded program or an old copy.
    cmp -s "/proc/$pid/exe" /usr/lib/vexaprinter/VexaPrinter || bUpgradedRuns=0
    env -u XDG_CONFIG_HOME HOME="$home" sh -c "exec $cmd quit"
    waitFor 150 isGone "$pid" || { kill "$pid"; fail "the program did not quit on 'vexaprinter quit'"; }
    wait "$pid" || fail "the program exited with $?"
    [ $bUpgradedRuns = 1 ] || fail "after the upgrade the autostart entry ran a stale copy, not the upgraded program"
    echo "autostart entry after the upgrade: the upgraded program runs"
}

runSession() {
    local entry=/usr/share/applications/vexaprinter.desktop cmd home appDir pid window
    # Exec= as a menu would run it, without field codes such as %U.
    cmd=$(sed -n 's/^Exec=//p' "$entry" | head -n1 | sed 's/ *%[a-zA-Z]//g')
    [ -n "$cmd" ] || fail "desktop entry has no Exec="
    home=$TMPDIR/home
    mkdir -p "$home"
    appDir=$home/.local/share/vexaprinter
    mkdir -p "$artifactDir"

    env -u QT_QPA_PLATFORM -u QT_QUICK_BACKEND -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" sh -c "exec $cmd" \
        >"$TMPDIR/app.log" 2>&1 &
    pid=$!
    waitFor 200 xdotool search --name '^Corvel打印控件 V1\.2\.29' \
        || { cat "$TMPDIR/app.log"; fail "the window did not appear"; }
    window=$(xdotool search --name '^Corvel打印控件 V1\.2\.29' | head -n1)
    echo "window: $(xdotool getwindowname "$window")"
    checkTrayIcon
    import -window root "$artifactDir/install-desktop.png"

    # Everything the service writes lies beside the executable that runs: the user's copy.
    cmp -s /usr/lib/vexaprinter/VexaPrinter "$appDir/VexaPrinter" || fail "no per-user copy in $appDir"
    waitFor 50 sh -c "ls '$appDir'/logs/PrinterLog_*.log" || fail "no log file in $appDir/logs"
    [ ! -e /usr/lib/vexaprinter/logs ] || fail "the service wrote into /usr/lib/vexaprinter"

    env -u XDG_CONFIG_HOME HOME="$home" sh -c "exec $cmd quit"
    waitFor 150 isGone "$pid" || { kill "$pid"; fail "the program did not quit on 'vexaprinter quit'"; }
    wait "$pid" || fail "the program exited with $?"

    # After a package upgrade the user's copy differs from the installed program: the next start
    # replaces it (a "quit" start is enough to see that; it exits at once).
    printf 'x' >>"$appDir/VexaPrinter"
    env -u XDG_CONFIG_HOME HOME="$home" sh -c "exec $cmd quit"
    cmp -s /usr/lib/vexaprinter/VexaPrinter "$appDir/VexaPrinter" || fail "the launcher kept a stale copy"

    checkAutostartAfterUpgrade "$home" "$cmd"
    echo "installed program: window, tray icon and per-user folder as expected; quit cleanly"
}

if [ $mode = install ]; then
    installPackage
else
    runSession
fi
