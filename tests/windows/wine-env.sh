# Sourced by the wine tests: a copy of the fixture's prefix, without drive Z: (nothing of the host may
# stand in for the program folder, copied to C:), and an X server.
set -u
fail() { echo "FAIL: $*"; exit 1; }
[ -d "$VEXA_WINE_TEMPLATE/drive_c" ] || fail "no wine prefix in $VEXA_WINE_TEMPLATE"
export WINEPREFIX=$TMPDIR/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" QSG_RENDER_LOOP=basic
on_exit=: xvfbPid=
trap 'wineserver -k 2>/dev/null; kill $xvfbPid 2>/dev/null; eval "$on_exit"' EXIT
# Wine's DLLs as hard links, the rest (registry, .ini) copied.
cp -al "$VEXA_WINE_TEMPLATE" "$WINEPREFIX"
find "$WINEPREFIX" -type f ! -path '*/system32/*' ! -path '*/winsxs/*' \
    -exec sh -c 'cp -p "$1" "$1.copy" && mv "$1.copy" "$1"' _ {} \;
rm "$WINEPREFIX/dosdevices/z:"
app=$WINEPREFIX/drive_c/VexaPrinter winApp='C:\VexaPrinter'
cp -r "$VEXA_DIST" "$app"
exec {xvfb}< <(exec Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp 2>/dev/null)
xvfbPid=$!
read -r nDisplay <&"$xvfb" && export DISPLAY=:$nDisplay
cd "$app"
