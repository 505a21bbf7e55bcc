#!/bin/bash
# Gives a Qt 5.15.8 prefix for 64-bit Windows (mingw-w64, posix threads, OpenSSL 3 linked; qtbase,
# qtdeclarative, qtquickcontrols2) and prints its absolute path as the last line of stdout.
# Where it comes from, first match wins:
#   1. $VEXA_QT_WIN, a prefix you already have;
#   2. the cache ~/.cache/vexaprinter/qt5-win64, once complete;
#   3. ../shared/qt5-win64.tar.xz beside this clone, unpacked into the cache;
#   4. a build from Debian 12's source packages into the cache (about 75 minutes on 2 cores).
# Usage: build-qt-windows.sh [--from-source [PREFIX]]   (forces 4, into PREFIX or the cache)
# Progress goes to stderr, build output to PREFIX-build/*.log. Run as root on Debian 12 (apt-get).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cache=$HOME/.cache/vexaprinter
archive=$(dirname "$repo")/shared/qt5-win64.tar.xz
# Written last, so an interrupted build or unpack never passes for a complete prefix.
marker=.vexaprinter-complete

say() { echo "build-qt-windows: $*" >&2; }
die() { say "$*"; exit 1; }
complete() { [ -f "$1/$marker" ]; }

install_missing() {
    local p missing=()
    for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
}

unpack_archive() {
    local prefix=$1 sum
    install_missing xz-utils
    # The note beside the archive gives its sha256; checking 28 MB costs a second.
    sum=$(grep -oE '\b[0-9a-f]{64}\b' "${archive%.tar.xz}.md" 2>/dev/null | head -n 1 || true)
    if [ -n "$sum" ]; then
        echo "$sum  $archive" | sha256sum -c --quiet - >&2 || die "$archive does not match its sha256"
    fi
    mkdir -p "$(dirname "$prefix")"
    tmp=$(mktemp -d "$prefix.unpack.XXXXXX")  # global: the EXIT trap outlives this function
    trap 'rm -rf "$tmp"' EXIT
    say "unpacking $archive"
    tar xJf "$archive" -C "$tmp"
    [ -f "$tmp/qt5-win64/lib/cmake/Qt5/Qt5Config.cmake" ] || die "$archive holds no qt5-win64/ prefix"
    echo "unpacked from $archive" >"$tmp/qt5-win64/$marker"
    rm -rf "$prefix"  # leftovers of an earlier failed attempt: not complete, hence not in use
    mv "$tmp/qt5-win64" "$prefix"
}

# step NAME DIR COMMAND...: runs COMMAND in DIR unless NAME.done says it already did, output in
# NAME.log. An interrupted build thus resumes at the step it stopped in.
step() {
    local name=$1 dir=$2; shift 2
    [ -f "$work/$name.done" ] && return 0
    say "$name (log: $work/$name.log)"
    if ! (cd "$dir" && "$@") >"$work/$name.log" 2>&1; then
        tail -n 25 "$work/$name.log" >&2
        die "$name failed; fix it and run again to resume"
    fi
    touch "$work/$name.done"
}

# newest FILE...: the highest version among FILEs, signatures left out.
newest() { printf '%s\n' "$@" | { grep -v '\.asc$' || true; } | sort -V | tail -n 1; }

# Unpacks a source package with Debian's patches applied. The security archive may serve only the
# upstream tarball without the .dsc; then that tarball is used as it is.
fetch_source() {
    local pkg=$1 dir=$2 dsc orig
    [ -d "$dir" ] && return 0
    dsc=$(newest "$pkg"_*.dsc)
    if [ ! -f "$dsc" ]; then
        apt-get source --download-only "$pkg" >"$work/$pkg-fetch.log" 2>&1 || true
        dsc=$(newest "$pkg"_*.dsc)
    fi
    rm -rf "$dir.tmp"
    if [ -f "$dsc" ]; then
        say "unpacking $dsc"
        dpkg-source -x "$dsc" "$dir.tmp" >"$work/$pkg-unpack.log" 2>&1 ||
            die "dpkg-source failed (log: $work/$pkg-unpack.log)"
    else
        orig=$(newest "$pkg"_*.orig.tar.*)
        [ -f "$orig" ] || die "no source for $pkg (see $work/$pkg-fetch.log)"
        say "no .dsc for $pkg served; unpacking $orig without Debian's patches"
        mkdir "$dir.tmp" && tar xf "$orig" -C "$dir.tmp" --strip-components=1
    fi
    mv "$dir.tmp" "$dir"
}

build_from_source() {
    local prefix=$1
    work=$prefix-build
    jobs=${JOBS:-$(nproc)}
    complete "$prefix" && [ -d "$work" ] && return 0
    if [ -n "$(ls -A "$prefix" 2>/dev/null)" ] && [ ! -d "$work" ]; then
        die "$prefix holds a Qt this script did not start building; empty it or choose another PREFIX"
    fi
    mkdir -p "$work" "$prefix"
    cd "$work"

    install_missing g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools \
        g++ make perl python3 dpkg-dev xz-utils
    # Qt's threads and std::thread need the posix flavour of the mingw compilers.
    update-alternatives --set x86_64-w64-mingw32-gcc /usr/bin/x86_64-w64-mingw32-gcc-posix >&2
    update-alternatives --set x86_64-w64-mingw32-g++ /usr/bin/x86_64-w64-mingw32-g++-posix >&2

    # apt-get source needs deb-src entries; the host's list has binaries only.
    if ! grep -qs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/*; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            >/etc/apt/sources.list.d/debian-src.sources
    fi
    if ! ls /var/lib/apt/lists/*_Sources* >/dev/null 2>&1; then apt-get update -q >&2; fi
    fetch_source openssl openssl-src
    fetch_source qtbase-opensource-src qtbase-src
    fetch_source qtdeclarative-opensource-src qtdeclarative-src
    fetch_source qtquickcontrols2-opensource-src qtquickcontrols2-src

    step openssl-configure openssl-src ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
        --prefix="$prefix" --libdir=lib shared no-tests
    step openssl-build openssl-src make -j"$jobs"
    step openssl-install openssl-src make install_sw

    # Linked rather than loaded at run time, so HTTPS works without hunting for the DLLs.
    mkdir -p build-qtbase
    step qtbase-configure build-qtbase env OPENSSL_LIBS="-L$prefix/lib -lssl -lcrypto" \
        ../qtbase-src/configure -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
        -prefix "$prefix" -opensource -confirm-license -release -shared -strip \
        -nomake examples -nomake tests -opengl desktop -no-dbus -no-icu \
        -openssl-linked -I "$prefix/include" -L "$prefix/lib" \
        -no-feature-sql -no-feature-testlib -no-feature-concurrent -no-feature-xml -no-feature-vulkan \
        -no-feature-bearermanagement -no-feature-tabletevent -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre \
        -qt-harfbuzz -qt-freetype
    step qtbase-build build-qtbase make -j"$jobs"
    step qtbase-install build-qtbase make install

    local m extra
    for m in qtdeclarative qtquickcontrols2; do
        # Direct3D 12 would need Microsoft's shader compiler (fxc.exe); Qt Quick uses OpenGL or software.
        extra=(); [ "$m" = qtdeclarative ] && extra=(-- -no-feature-d3d12)
        mkdir -p "build-$m"
        step "$m-qmake" "build-$m" "$prefix/bin/qmake" "../$m-src" "${extra[@]}"
        step "$m-build" "build-$m" make -j"$jobs"
        step "$m-install" "build-$m" make install
    done
    echo "built from source in $work" >"$prefix/$marker"
}

if [ "${1:-}" = --from-source ]; then
    [ $# -le 2 ] || die "usage: $0 [--from-source [PREFIX]]"
    prefix=${2:-$cache/qt5-win64}
    mkdir -p "$prefix" && prefix=$(cd "$prefix" && pwd)
    build_from_source "$prefix"
elif [ $# -gt 0 ]; then
    die "usage: $0 [--from-source [PREFIX]]"
elif [ -n "${VEXA_QT_WIN:-}" ]; then
    [ -f "$VEXA_QT_WIN/lib/cmake/Qt5/Qt5Config.cmake" ] ||
        die "VEXA_QT_WIN=$VEXA_QT_WIN is no Qt prefix: lib/cmake/Qt5/Qt5Config.cmake is missing"
    prefix=$(cd "$VEXA_QT_WIN" && pwd)
else
    prefix=$cache/qt5-win64
    if complete "$prefix"; then
        :
    elif [ -f "$archive" ] && [ ! -d "$prefix-build" ]; then
        unpack_archive "$prefix"
    else
        # Also taken when a source build in the cache was interrupted: it resumes, not restarts.
        build_from_source "$prefix"
    fi
fi
echo "$prefix"
