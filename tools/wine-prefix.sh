#!/usr/bin/env bash
# Makes a new Wine prefix in which the Windows build runs as on a bare Windows PC:
#   tools/wine-prefix.sh DIR      then   WINEPREFIX=DIR wine DIR/.../bin/tempyra-config.exe
# Wine asks nothing about Mono or Gecko, and the prefix gets Wine's own fonts (fonts-wine), which
# Debian's Wine leaves out of a new prefix: without Tahoma behind "MS Shell Dlg 2", Windows
# programs get the first font of the system, a mathematical one whose tall lines overflow forms.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh DIR}
rm -rf "$prefix"
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot --init >/dev/null 2>&1
WINEPREFIX=$prefix wineserver --wait
cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"
