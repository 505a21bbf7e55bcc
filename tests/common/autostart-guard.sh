#!/bin/bash
# Records, then compares, the autostart folder of the user who runs the tests (outside the
# isolation wrapper): after a run it must be exactly as before.
# Usage: autostart-guard.sh record|compare <snapshot file>
set -euo pipefail
mode=$1 snapshot=$2
if [[ ${XDG_CONFIG_HOME:-} == /* ]]; then
    folder=$XDG_CONFIG_HOME/autostart
else
    folder=$HOME/.config/autostart
fi

describe() {
    if [ ! -e "$folder" ]; then
        echo "absent: $folder"
        return
    fi
    echo "folder: $folder"
    (cd "$folder" && find . -mindepth 1 -printf '%y %m %p\n' | LC_ALL=C sort \
        && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)
}

case $mode in
record) describe >"$snapshot" ;;
compare)
    if ! diff -u "$snapshot" <(describe); then
        echo "FAIL: the tests changed $folder:"
        grep -H '^Exec=' "$folder"/* 2>/dev/null || true
        exit 1
    fi
    echo "unchanged: $folder"
    ;;
*) echo "usage: $0 record|compare <snapshot file>" >&2; exit 2 ;;
esac
