#!/usr/bin/env bash
# Cross-builds tempyra-config.exe and tempyra-cli.exe for 64-bit Windows on Debian 12 and packs
# them, with the Qt and MinGW DLLs they load, as a portable ZIP and an NSIS installer in
# build-windows/. Installs the Debian packages it needs (through sudo when not root).
#
#   tools/build-windows.sh [--qt PATH] [--build-dir DIR]
#
# PATH is the Qt 5.15 for MinGW-w64 toolchain: its .tar.xz, or a folder where it is unpacked
# (holding lib/cmake/Qt5). Default: $TEMPYRA_QT_MINGW, else ../shared/toolchains/ beside the
# repository. A tarball is unpacked once into the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

qt=${TEMPYRA_QT_MINGW:-$root/../shared/toolchains/qt5.15.8-mingw64.tar.xz}
build=build-windows
while [[ $# -gt 0 ]]; do
    case $1 in
    --qt) qt=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    -h | --help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "build-windows: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

tools/install-deps.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nsis xz-utils

if [[ -f $qt ]]; then
    # Unpacked again only when the tarball changes.
    stamp=$build/qt/.unpacked-from
    if [[ ! -f $stamp || $(cat "$stamp") != "$(sha256sum <"$qt")" ]]; then
        echo "build-windows: unpacking $qt" >&2
        rm -rf "$build/qt"
        mkdir -p "$build/qt"
        tar -xJf "$qt" -C "$build/qt"
        sha256sum <"$qt" >"$stamp"
    fi
    qt=$(dirname "$(find "$build/qt" -path '*/lib/cmake/Qt5/Qt5Config.cmake' -print -quit)")/../../..
elif [[ ! -d $qt ]]; then
    echo "build-windows: no Qt for MinGW-w64 at $qt; give it with --qt PATH or TEMPYRA_QT_MINGW" >&2
    exit 2
fi
[[ -f $qt/lib/cmake/Qt5/Qt5Config.cmake ]] || {
    echo "build-windows: $qt holds no lib/cmake/Qt5/Qt5Config.cmake" >&2
    exit 2
}
qt=$(cd "$qt" && pwd)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" -DTEMPYRA_BUILD_TESTS=OFF -DTEMPYRA_BUILD_BENCH=OFF \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$build" --parallel "$(nproc)"
(cd "$build" && cpack -G "ZIP;NSIS")
echo "build-windows: made" "$build"/tempyra-config-*-win64.{zip,exe}
