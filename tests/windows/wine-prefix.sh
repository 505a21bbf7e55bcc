#!/bin/bash
# Makes the wine prefix that each Windows test copies (wineboot takes about 20 s, so once per run):
# "Microsoft YaHei", the receipt font, mapped to WenQuanYi Micro Hei. Usage: wine-prefix.sh <prefix>
set -eu
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono, Gecko prompts
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei' /d 'WenQuanYi Micro Hei' /f >/dev/null
wineserver -w  # ends by itself and saves the registry
