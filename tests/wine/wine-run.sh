#!/bin/sh
# Runs a Windows program of a build tree under 64-bit Wine, in the tree's
# test prefix for this Wine and on its virtual display, both made by
# wine-up.sh.
#   wine-run.sh BUILD_DIR PROGRAM.exe [ARGS...]
build=$1
shift
# shellcheck source=tests/wine/wine-state.sh
. "$(dirname "$0")/wine-state.sh"
WINEPREFIX="$state/prefix"
if [ ! -f "$state/display" ] || ! wine_prefix_ready; then
    echo "wine-run.sh: no Wine test prefix in $state; run the tests through ctest," \
         "which sets it up first (tests/wine/wine-up.sh)" >&2
    exit 2
fi
DISPLAY=$(cat "$state/display")
WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX DISPLAY WINEDEBUG
exec "$wine64" "$@"
