#!/bin/bash
# The Windows backends under wine through VexaProbe.exe, named VexaPrinter.exe; qDebug comes on stderr.
source "$(dirname "$0")/wine-env.sh"
probe() { wine "$winApp\\$exe" "$@" 2>>"$TMPDIR/debug" | tr -d '\r'; }
exe=VexaPrinter.exe && cp "$VEXA_PROBE" "$exe" && cp "$VEXA_PROBE" Updater.exe
link=$(find "$WINEPREFIX/drive_c/users/$(id -un)" -ipath '*/Programs/Startup')/VexaPrinter.lnk  # wine: StartUp
run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

[ "$(probe powerboot 1)" = "isPowerBoot 1 bAutoStart 0" ] && grep -qaF "$winApp\\$exe" "$link" || fail "no $link"
[ "$(probe powerboot 0)" = "isPowerBoot 0 bAutoStart 0" ] && [ ! -e "$link" ] || fail "the shortcut stayed"
tr -d '\r' <"$TMPDIR/debug" | grep -qx "Shortcut deleted successfully." || fail "debug lines: $(cat "$TMPDIR/debug")"

[ "$(probe autostart 1)" = "isPowerBoot 1 bAutoStart 1" ] || fail "bAutoStart after setAutoStart(true)"
wine reg query "$run" | grep -qF "VexaPrinter    REG_SZ    $winApp\\$exe" || fail "no Run value"
[ "$(probe autostart 0)" = "isPowerBoot 1 bAutoStart 0" ] || fail "bAutoStart after setAutoStart(false)"
wine reg query "$run" | grep -q VexaPrinter && fail "the Run value stayed"

[ "$(probe printers)" = "$(lpstat -e | sed 's/.*/&|CUPS:&/'; lpstat -d | sed 's/.*: /default /')" ] ||
    fail "printers:" $(probe printers)

wine "$winApp\\Updater.exe" tick 60000 >/dev/null & updater=$!
for _ in $(seq 40); do [ "$(probe running Updater.exe)" = 1 ] && break; sleep 0.5; done
seen=$(probe running Updater.exe)$(probe running updater.exe)
[ "$seen" = 10 ] || fail "with Updater.exe running, the watch sees Updater.exe, updater.exe: $seen"
kill $updater; wait $updater
[ "$(probe running Updater.exe)" = 0 ] || fail "Updater.exe seen after it ended"

read -r nStart nEnd nElapsed <<<"$(probe tick 500)"
[ "$nStart" = 0 ] && [ "$nElapsed" -ge 500 ] && [ $((nEnd - nElapsed)) -ge 0 ] && [ $((nEnd - nElapsed)) -le 2 ] ||
    fail "clock: $nStart, then $nEnd after $nElapsed ms"
