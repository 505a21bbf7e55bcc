#!/bin/bash
# Cross-builds the Windows program into build-win/ (mingw-w64, the Qt for Windows that
# scripts/build-qt-windows.sh gives) and makes, from a clean clone:
#   build-win/dist/VexaPrinter/               the program folder: runs on a bare Windows 10/11
#   build-win/VexaPrinter-<version>-win64.zip that folder zipped
#   build-win/VexaPrinter-<version>-setup.exe per-user installer (packaging/windows/VexaPrinter.nsi)
# The dist folder's path is the last line of stdout. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=$repo/build-win
mingw=x86_64-w64-mingw32

say() { echo "build-windows: $*" >&2; }
die() { say "$*"; exit 1; }

missing=()
for p in cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nsis zip; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

qt=$(scripts/build-qt-windows.sh | tail -n 1)
version=$(sed -n 's/^project(VexaPrinter VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=packaging/windows/mingw-w64.cmake -DCMAKE_PREFIX_PATH="$qt" \
    -DCMAKE_BUILD_TYPE=Release -DVEXA_BUILD_TESTS=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" >&2

dist=$build/dist/VexaPrinter
rm -rf "$build/dist" && mkdir -p "$dist"
"$mingw-strip" -o "$dist/VexaPrinter.exe" "$build/VexaPrinter.exe"

# Plugins Qt loads by name: the platform, the Windows printers, JPEG and GIF logos (PNG is built in),
# the native look of the tray menu's widget fallback.
for plugin in platforms/qwindows printsupport/windowsprintersupport imageformats/qjpeg imageformats/qgif \
    styles/qwindowsvistastyle; do
    mkdir -p "$dist/plugins/$(dirname "$plugin")"
    cp "$qt/plugins/$plugin.dll" "$dist/plugins/$plugin.dll"
done

# The QML modules the window imports, and theirs. The scanner also reads every style of Controls 2;
# the window uses the default one, whose files lie in Controls.2 itself. A module is its folder's
# files only: subfolders are modules of their own (or designer files).
modules=$("$qt/bin/qmlimportscanner" -rootPath app/qml -importPath "$qt/qml" | python3 -c '
import json, sys
for m in json.load(sys.stdin):
    if m.get("path") and not m["name"].startswith("QtQuick.Controls."):
        print(m["path"])' | sort -u)
for module in $modules; do
    relative=${module#"$qt/qml/"}
    mkdir -p "$dist/qml/$relative"
    find "$module" -maxdepth 1 -type f -exec cp {} "$dist/qml/$relative/" \;
done

# Paths are the folder's own: never the prefix compiled into Qt5Core.dll.
printf '[Paths]\nPrefix = .\nPlugins = plugins\nQml2Imports = qml\n' >"$dist/qt.conf"

# The DLLs that the executable and every plugin import, and theirs, from the Qt prefix (Qt, OpenSSL)
# and mingw-w64 (C++ runtime, threads). Anything not found there is the system's.
search=("$qt/bin" "$(dirname "$("$mingw-g++-posix" -print-libgcc-file-name)")" "/usr/$mingw/lib")
queue=$(find "$dist" -name '*.exe' -o -name '*.dll')
while [ -n "$queue" ]; do
    next=""
    for binary in $queue; do
        for dll in $("$mingw-objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p'); do
            [ -e "$dist/$dll" ] && continue
            for dir in "${search[@]}"; do
                if [ -f "$dir/$dll" ]; then
                    # The mingw runtime comes with its debugging information (libstdc++ 24 MB, stripped 2 MB).
                    "$mingw-strip" --strip-unneeded -o "$dist/$dll" "$dir/$dll"
                    next="$next $dist/$dll"
                    break
                fi
            done
        done
    done
    queue=$next
done
for dll in Qt5Core.dll Qt5Quick.dll Qt5QuickControls2.dll libssl-3-x64.dll libstdc++-6.dll libwinpthread-1.dll; do
    [ -f "$dist/$dll" ] || die "$dll did not come with the imports"
done

zip_file=$build/VexaPrinter-$version-win64.zip
rm -f "$zip_file"
(cd "$build/dist" && zip -qr9 "$zip_file" VexaPrinter)
makensis -V2 -DVERSION="$version" -DDIST="$dist" -DOUTFILE="$build/VexaPrinter-$version-setup.exe" \
    packaging/windows/VexaPrinter.nsi >&2
say "$(du -h "$zip_file" | cut -f1) $zip_file"
say "$(du -h "$build/VexaPrinter-$version-setup.exe" | cut -f1) $build/VexaPrinter-$version-setup.exe"
echo "$dist"
