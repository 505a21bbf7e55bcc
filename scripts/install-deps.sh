#!/bin/bash
# Installs what is missing on a Debian 12 machine. Usage: install-deps.sh run|test
set -euo pipefail

RUNTIME="libqt5core5a libqt5network5 libqt5gui5 libqt5widgets5 libqt5printsupport5 libqt5qml5 libqt5quick5
  libqt5quickcontrols2-5 qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2
  qml-module-qtquick-layouts qml-module-qt-labs-platform qt5-gtk-platformtheme
  libcups2 fonts-wqy-microhei ca-certificates sensible-utils"
BUILD="cmake make g++ pkg-config qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev libcups2-dev"
TEST="xvfb xauth x11-utils xdotool imagemagick trayer iproute2 util-linux procps cups cups-client cups-bsd
  printer-driver-cups-pdf poppler-utils openssl curl chromium chromium-driver nginx-light wrk clang libclang-rt-14-dev valgrind python3
  avahi-daemon dbus-daemon
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 nsis zip"

packages="$RUNTIME $BUILD"
if [ "${1:-run}" = test ]; then
  packages="$packages $TEST"
fi

# avahi-daemon serves the printer tests only, which run it in network namespaces of their own
# (tests/printing/with-avahi.sh): a copy installed here must never run on the host's network.
keep_avahi_off_host() {
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now avahi-daemon.socket avahi-daemon.service >/dev/null 2>&1 || true
  else
    $SUDO update-rc.d avahi-daemon disable >/dev/null 2>&1 || true
  fi
  local pid net_self
  net_self=$(readlink /proc/self/ns/net)
  for pid in $(pgrep -x avahi-daemon || true); do
    if [ "$($SUDO readlink "/proc/$pid/ns/net")" = "$net_self" ]; then
      $SUDO kill "$pid" || true
    fi
  done
}

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done

if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  echo "Installing:$missing"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
  case " $missing " in *" avahi-daemon "*) keep_avahi_off_host ;; esac
fi
