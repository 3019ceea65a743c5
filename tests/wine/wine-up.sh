#!/bin/sh
# Prepares a build tree for running its Windows tests under 64-bit Wine:
# a virtual display (Xvfb), a Wine prefix made once per tree, and a Wine
# server kept running until wine-down.sh.
#   wine-up.sh BUILD_DIR [--virtual-lamp VIRTUAL_LAMP_EXE] [EXE_NAME...]
#   wine-up.sh BUILD_DIR --prefix-only
# Each EXE_NAME gets the simulated hid.dll and setupapi.dll that lie beside
# it (DllOverrides under its AppDefaults key), and no other program does.
# With --virtual-lamp, the virtual lamp's driver is installed in the prefix
# (tools/virtual-lamp), and lamps a test left behind are removed.
# --prefix-only makes the prefix alone, with no display, and lets Wine end:
# making one keeps a core busy for a minute or two, which scripts/test.sh
# spends beside the builds.
set -eu
build=$(cd "$1" && pwd)
shift
lamp_tool=""
if [ "${1:-}" = "--virtual-lamp" ]; then
    lamp_tool=$2
    shift 2
fi
# shellcheck source=tests/wine/wine-state.sh
. "$(dirname "$0")/wine-state.sh"
mkdir -p "$state"
WINEPREFIX="$state/prefix"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
if [ "${1:-}" = "--prefix-only" ]; then
    unset DISPLAY
    wine_prefix "$state/wineboot.log"
    exit 0
fi

# A display of our own, so that screenshots and pixel reads see only the
# program under test.
if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    DISPLAY=$(cat "$state/display")
    export DISPLAY
else
    display_start "$state/xvfb.log" || exit 1
    echo "$display_pid" >"$state/xvfb.pid"
    echo "$DISPLAY" >"$state/display"
fi

# The prefix is made once, with no DLL overrides in force: wineboot with the
# simulated setupapi would leave it broken.
wine_prefix "$state/wineboot.log" || exit 1

# Programs started from here (the server, Wine's own services) outlive this
# script; none may hold on to the caller's output, or ctest would wait.
"$wineserver" -p </dev/null >"$state/wineserver.log" 2>&1 || true  # already running

# Without a window manager Wine waits 2 s for each window to close unless
# its windows are unmanaged. Each EXE_NAME gets the simulated DLLs beside
# it. The shipped programs' own names never get them: tests on the real
# stack start copies under those names. Older trees gave them some.
exes=$*
set -- '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"'
for exe in $exes; do
    set -- "$@" "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\$exe\\DllOverrides]" \
        '"hid"="native"' '"setupapi"="native"'
done
for exe in tolvaren.exe tolvaren-send.exe tolvaren-vis.exe tolvaren32.exe; do
    set -- "$@" "[-HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\$exe\\DllOverrides]"
done
wine_registry "$state" "$@" || exit 1

# The virtual lamp's driver goes in once the prefix is there, with no DLL
# override in force (virtual-lamp.exe has none). Lamps stay installed over
# restarts of the prefix, so any that a test left behind, when it crashed
# say, would be found by the next test's program.
if [ -n "$lamp_tool" ]; then
    if [ ! -f "$lamp_tool" ]; then
        echo "wine-up.sh: $lamp_tool is missing; build the windows-x64 preset first" >&2
        exit 1
    fi
    log="$state/virtual-lamp.log"
    if ! "$wine64" "$lamp_tool" install-driver </dev/null >"$log" 2>&1 ||
        ! "$wine64" "$lamp_tool" remove-all </dev/null >>"$log" 2>&1; then
        echo "wine-up.sh: the virtual lamp could not be set up in $WINEPREFIX:" >&2
        cat "$log" >&2
        exit 1
    fi
fi
