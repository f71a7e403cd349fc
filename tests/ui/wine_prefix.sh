#!/bin/sh
# Makes the Wine prefix named by WINEPREFIX when it is missing, and waits until Wine has
# finished setting it up. Argument: the wine64 loader.
#
# Dialog fonts come from Noto Sans CJK (fonts-noto-cjk), so that Chinese texts show, and Wine
# draws window frames itself, since no window manager runs inside the virtual X server.
set -e
wine="$1"
server="$(dirname "$wine")/wineserver"
[ -x "$server" ] || server=wineserver
"$wine" wineboot --init
substitutes='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
    "$wine" reg add "$substitutes" /v "$face" /d "Noto Sans CJK SC" /f >/dev/null
done
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
"$server" --wait
