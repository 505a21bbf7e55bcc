#!/bin/bash
# Records, then compares, the autostart folder of the user who runs the tests (outside the isolation
# wrapper): after a run it must be exactly as before. Usage: autostart-guard.sh record|compare <snapshot>
set -euo pipefail
folder=${XDG_CONFIG_HOME:-$HOME/.config}/autostart
[[ ${XDG_CONFIG_HOME:-} == /* ]] || folder=$HOME/.config/autostart
describe() {
    [ -e "$folder" ] || { echo "absent: $folder"; return; }
    cd "$folder" && find . -mindepth 1 -printf '%y %m %p\n' | LC_ALL=C sort && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2
}
case $1 in
record) describe >"$2" ;;
compare) diff -u "$2" <(describe) || { echo "FAIL: the tests changed $folder:"; grep -H '^Exec=' "$folder"/* 2>/dev/null; exit 1; } ;;
*) echo "usage: $0 record|compare <snapshot file>" >&2; exit 2 ;;
esac
