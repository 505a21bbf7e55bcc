#!/bin/bash
# Records, then compares, the real autostart folder of the user who runs the tests.
# Usage: autostart-guard.sh record|compare <snapshot>
set -euo pipefail
folder=$HOME/.config/autostart
if [[ ${XDG_CONFIG_HOME:-} == /* ]]; then
    folder=$XDG_CONFIG_HOME/autostart
fi
describe() {
    if [ ! -e "$folder" ]; then
        echo "absent: $folder"
        return
    fi
    cd "$folder"
    find . -mindepth 1 -printf '%y %m %p\n' | LC_ALL=C sort
    find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2
}
case $1 in
record)
    describe >"$2"
    ;;
compare)
    if ! diff -u "$2" <(describe); then
        echo "FAIL: the tests changed $folder:"
        grep -H '^Exec=' "$folder"/* 2>/dev/null || true
        exit 1
    fi
    ;;
*)
    echo "usage: $0 record|compare <snapshot file>" >&2
    exit 2
    ;;
esac
