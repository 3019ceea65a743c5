#!/bin/sh
# Stops what wine-up.sh started for a build tree.
#   wine-down.sh BUILD_DIR
build=$1
# shellcheck source=tests/wine/wine-state.sh
. "$(dirname "$0")/wine-state.sh"
WINEPREFIX="$state/prefix" "$wineserver" -k 2>/dev/null
if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null
    rm -f "$state/xvfb.pid"
fi
exit 0
