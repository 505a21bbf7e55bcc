# Sourced by the Windows tests inside run-isolated.sh's namespace: a wine prefix of the test's own
# (from the fixture's), an X server, the program folder on the prefix's drive C: ($app, $winApp).
# The prefix has no drive Z:, so nothing of the host (the Qt prefix) can stand in for the folder.
set -u
fail() { echo "FAIL: $*"; exit 1; }
[ -d "$VEXA_WINE_TEMPLATE/drive_c" ] || fail "no wine prefix in $VEXA_WINE_TEMPLATE"
export WINEPREFIX=$TMPDIR/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" QSG_RENDER_LOOP=basic
on_exit=: xvfbPid=
trap 'wineserver -k 2>/dev/null; kill $xvfbPid 2>/dev/null; eval "$on_exit"' EXIT
# Wine's own DLLs are hard links (nothing writes them); the registry and .ini files are copies.
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
