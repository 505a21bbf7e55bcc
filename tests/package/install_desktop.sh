#!/bin/bash
# Builds the Debian package, installs it on this machine, starts the program the way the desktop menu
# does (the installed entry's Exec=) on a private X display with a tray host, and checks the window, the
# tray icon and the program's files in the user's folder; then upgrades the package and checks that the
# autostart entry the program wrote starts the new program.
# Usage (under tests/common/run-isolated.sh): install_desktop.sh <build dir> <artifact dir>
# Needs root (it installs a package); exit 77 = skipped.
set -euo pipefail
buildDir=$1 artifactDir=$2
entry=/usr/share/applications/vexaprinter.desktop
title='^Corvel打印控件 V1\.2\.29'

fail() { echo "FAIL: $*"; exit 1; }
waitFor() {  # up to $1 tenths of a second for the command that follows
    local nTries=$1
    shift
    for _ in $(seq "$nTries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
# A child that ended stays a zombie until it is waited for.
isGone() { [[ $(ps -o stat= -p "$1") != [^Z]* ]]; }

installPackage() {
    [ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
    for tool in cpack dpkg-deb apt-get xdotool xwininfo import convert; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    cpack -G DEB --config "$buildDir/CPackConfig.cmake" -B "$TMPDIR/pkg" >"$TMPDIR/cpack.log" 2>&1 \
        || { cat "$TMPDIR/cpack.log"; fail "cpack failed"; }
    deb=$(ls "$TMPDIR"/pkg/vexaprinter_*.deb)
    for dep in fonts-wqy-microhei qml-module-qt-labs-platform libcups2; do
        dpkg-deb -f "$deb" Depends | grep -q "$dep" || fail "Depends lacks $dep"
    done
    # Every dependency is installed by scripts/install-deps.sh; this namespace has no network anyway.
    if dpkg-query -W -f='${Status}' vexaprinter 2>/dev/null | grep -q "install ok installed"; then
        # The session upgrades to a modified build of the package; this build goes back in place.
        trap 'apt-get install -y -q --reinstall --allow-downgrades -o DPkg::Lock::Timeout=120 "$deb" >/dev/null 2>&1' EXIT
    else
        trap 'dpkg -r vexaprinter >/dev/null 2>&1' EXIT  # leave the machine as it was
    fi
    aptInstall --reinstall "$deb"
    for key in '^Name=' '^Icon=vexaprinter$' '^Categories=' '^Type=Application$'; do
        grep -q "$key" "$entry" || fail "desktop entry lacks $key"
    done
    for file in /usr/share/icons/hicolor/256x256/apps/vexaprinter.png /usr/share/vexaprinter/testpage.html; do
        [ -f "$file" ] || fail "not installed: $file"
    done
    VEXA_PACKAGE_DEB=$deb "$(dirname "$0")/xsession.sh" --tray "$0" "$buildDir" "$artifactDir"
}

aptInstall() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=120 "$@" \
        >"$TMPDIR/apt.log" 2>&1 || { cat "$TMPDIR/apt.log"; fail "the package did not install: $*"; }
}

# The tray icon is a window of the program docked inside trayer's panel, showing the purple picture.
checkTrayIcon() {
    local panel iconWin nPurple
    panel=$(xwininfo -root -tree | awk '/\("panel" "trayer"\)/ {print $1; exit}')
    waitFor 100 sh -c "xwininfo -tree -id $panel | grep -q '(\"VexaPrinter\" \"VexaPrinter\")'" \
        || { xwininfo -root -tree; fail "no tray icon docked in the tray host"; }
    iconWin=$(xwininfo -tree -id "$panel" | awk '/\("VexaPrinter" "VexaPrinter"\)/ {print $1; exit}')
    import -window "$iconWin" "$artifactDir/install-trayicon.png"
    nPurple=$(convert "$artifactDir/install-trayicon.png" -alpha off -fuzz 20% -fill black +opaque '#7B3FB8' \
              -fill white -opaque '#7B3FB8' -format '%[fx:round(mean*w*h)]' info:)
    [ "$nPurple" -ge 30 ] || fail "the tray icon does not show the picture ($nPurple purple pixels)"
}

# Starts a command line as the desktop would, for the user; waits for the window. Sets pid.
startAsUser() {
    env -u QT_QPA_PLATFORM -u QT_QUICK_BACKEND -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" sh -c "exec $1" \
        >"$TMPDIR/app.log" 2>&1 &
    pid=$!
    waitFor 200 xdotool search --name "$title" || { cat "$TMPDIR/app.log"; kill "$pid"; fail "$1 showed no window"; }
}

quitAndWait() {
    env -u XDG_CONFIG_HOME HOME="$home" sh -c "exec $cmd quit"
    waitFor 150 isGone "$pid" || { kill "$pid"; fail "the program did not quit on 'vexaprinter quit'"; }
    wait "$pid" || fail "the program exited with $?"
}

# A package upgrade to a changed program: this package rebuilt with a higher version and a few bytes
# appended to the executable (it still runs).
upgradePackage() {
    local root=$TMPDIR/upgrade
    dpkg-deb -R "$VEXA_PACKAGE_DEB" "$root"
    printf 'upgraded' >>"$root/usr/lib/vexaprinter/VexaPrinter"
    sed -i 's/^Version: .*/&+upgrade1/' "$root/DEBIAN/control"
    (cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
    dpkg-deb --root-owner-group -b "$root" "$TMPDIR/upgrade.deb" >/dev/null
    aptInstall "$TMPDIR/upgrade.deb"
    cmp -s "$root/usr/lib/vexaprinter/VexaPrinter" /usr/lib/vexaprinter/VexaPrinter || fail "the upgrade left the old program"
}

runSession() {
    home=$TMPDIR/home appDir=$TMPDIR/home/.local/share/vexaprinter
    # Exec= as a menu would run it, without field codes such as %U.
    cmd=$(sed -n 's/^Exec=//p' "$entry" | head -n1 | sed 's/ *%[a-zA-Z]//g')
    [ -n "$cmd" ] || fail "desktop entry has no Exec="
    mkdir -p "$home" "$artifactDir"
    startAsUser "$cmd"
    checkTrayIcon
    import -window root "$artifactDir/install-desktop.png"
    # Everything the service writes lies beside the executable that runs: the user's copy.
    cmp -s /usr/lib/vexaprinter/VexaPrinter "$appDir/VexaPrinter" || fail "no per-user copy in $appDir"
    waitFor 50 sh -c "ls '$appDir'/logs/PrinterLog_*.log" || fail "no log file in $appDir/logs"
    [ ! -e /usr/lib/vexaprinter/logs ] || fail "the service wrote into /usr/lib/vexaprinter"
    quitAndWait
    # After an upgrade the user's copy differs from the installed program: the next start replaces it
    # (a "quit" start is enough to see that; it exits at once).
    printf 'x' >>"$appDir/VexaPrinter"
    env -u XDG_CONFIG_HOME HOME="$home" sh -c "exec $cmd quit"
    cmp -s /usr/lib/vexaprinter/VexaPrinter "$appDir/VexaPrinter" || fail "the launcher kept a stale copy"

    # The window's switch wrote an autostart entry at the first start. After an upgrade the next log-in
    # runs that entry: through the launcher, so that the upgraded program runs, not the user's old copy.
    local autostart=$home/.config/autostart/VexaPrinter.desktop
    [ -f "$autostart" ] || fail "the window's switch wrote no autostart entry $autostart"
    upgradePackage
    startAsUser "$(sed -n 's/^Exec=//p' "$autostart" | head -n1)"
    # The image that runs, whatever its path: the upgraded program or an old copy.
    cmp -s "/proc/$pid/exe" /usr/lib/vexaprinter/VexaPrinter || { quitAndWait; fail "after the upgrade the autostart entry ran a stale copy"; }
    quitAndWait
    echo "installed program: window, tray icon, per-user folder, and the upgraded program from the autostart entry"
}

if [ -z "${VEXA_PACKAGE_DEB:-}" ]; then installPackage; else runSession; fi
