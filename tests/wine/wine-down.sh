#!/bin/sh
# Stops what wine-up.sh started for a build tree.
#   wine-down.sh BUILD_DIR
state="$1/wine"
WINEPREFIX="$state/prefix" /usr/lib/wine/wineserver -k 2>/dev/null
if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null
    rm -f "$state/xvfb.pid"
fi
exit 0
