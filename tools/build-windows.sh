#!/usr/bin/env bash
# Cross-builds tempyra-config.exe and tempyra-cli.exe for 64-bit Windows on Debian 12 and packs
# them, with the Qt and MinGW DLLs they load, as a portable ZIP and an NSIS installer in
# build-windows/. Installs the Debian packages it needs (through sudo when not root).
#
#   tools/build-windows.sh [--qt PATH] [--build-dir DIR]
#
# PATH is the Qt 5.15 for MinGW-w64 toolchain: its .tar.xz, or a folder where it is unpacked
# (holding lib/cmake/Qt5). Default: $TEMPYRA_QT_MINGW, else ../shared/toolchains/ beside the
# repository. A tarball is unpacked once into the build folder. libsodium for MinGW-w64 comes the
# same way from SODIUM (a .tar.xz or a folder with include/ and lib/libsodium.a): --sodium SODIUM,
# $TEMPYRA_SODIUM_MINGW, else ../shared/toolchains/libsodium-1.0.18-mingw64.tar.xz.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

qt=${TEMPYRA_QT_MINGW:-$root/../shared/toolchains/qt5.15.8-mingw64.tar.xz}
sodium=${TEMPYRA_SODIUM_MINGW:-$root/../shared/toolchains/libsodium-1.0.18-mingw64.tar.xz}
build=build-windows
while [[ $# -gt 0 ]]; do
    case $1 in
    --qt) qt=$2; shift 2 ;;
    --sodium) sodium=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    -h | --help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "build-windows: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

tools/install-deps.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nsis xz-utils

# unpacked TARBALL NAME: the tarball unpacked into $build/NAME, again only when it changes.
unpacked() {
    local stamp=$build/$2/.unpacked-from
    if [[ ! -f $stamp || $(cat "$stamp") != "$(sha256sum <"$1")" ]]; then
        echo "build-windows: unpacking $1" >&2
        rm -rf "${build:?}/$2"
        mkdir -p "$build/$2"
        tar -xJf "$1" -C "$build/$2"
        sha256sum <"$1" >"$stamp"
    fi
}

if [[ -f $qt ]]; then
    unpacked "$qt" qt
    qt=$(dirname "$(find "$build/qt" -path '*/lib/cmake/Qt5/Qt5Config.cmake' -print -quit)")/../../..
elif [[ ! -d $qt ]]; then
    echo "build-windows: no Qt for MinGW-w64 at $qt; give it with --qt PATH or TEMPYRA_QT_MINGW" >&2
    exit 2
fi
if [[ -f $sodium ]]; then
    unpacked "$sodium" sodium
    sodium=$(dirname "$(find "$build/sodium" -path '*/include/sodium.h' -print -quit)")/..
elif [[ ! -d $sodium ]]; then
    echo "build-windows: no libsodium for MinGW-w64 at $sodium; give it with --sodium PATH or" \
        "TEMPYRA_SODIUM_MINGW" >&2
    exit 2
fi
[[ -f $sodium/lib/libsodium.a ]] || {
    echo "build-windows: $sodium holds no lib/libsodium.a" >&2
    exit 2
}
sodium=$(cd "$sodium" && pwd)
[[ -f $qt/lib/cmake/Qt5/Qt5Config.cmake ]] || {
    echo "build-windows: $qt holds no lib/cmake/Qt5/Qt5Config.cmake" >&2
    exit 2
}
qt=$(cd "$qt" && pwd)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" -DTEMPYRA_SODIUM_DIR="$sodium" -DTEMPYRA_BUILD_TESTS=OFF -DTEMPYRA_BUILD_BENCH=OFF \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$build" --parallel "$(nproc)"
(cd "$build" && cpack -G "ZIP;NSIS")
echo "build-windows: made" "$build"/tempyra-config-*-win64.{zip,exe}
