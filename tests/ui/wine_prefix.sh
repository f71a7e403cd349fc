#!/bin/sh
# Makes the Wine prefix named by WINEPREFIX when it is missing, and waits until Wine has
# finished setting it up. Argument: the wine64 loader.
set -e
"$1" wineboot --init
server="$(dirname "$1")/wineserver"
[ -x "$server" ] || server=wineserver
"$server" --wait
