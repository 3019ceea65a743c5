#!/bin/sh
# Prepares a build tree for running its Windows tests under 64-bit Wine:
# a virtual display (Xvfb), a Wine prefix made once per tree, and a Wine
# server kept running until wine-down.sh.
#   wine-up.sh BUILD_DIR [--virtual-lamp VIRTUAL_LAMP_EXE] [EXE_NAME...]
# Each EXE_NAME gets the simulated hid.dll and setupapi.dll that lie beside
# it (DllOverrides under its AppDefaults key), and no other program does.
# With --virtual-lamp, the virtual lamp's driver is installed in the prefix
# (tools/virtual-lamp), and lamps a test left behind are removed.
set -eu
build=$(cd "$1" && pwd)
shift
lamp_tool=""
if [ "${1:-}" = "--virtual-lamp" ]; then
    lamp_tool=$2
    shift 2
fi
. "$(dirname "$0")/wine-state.sh"
if [ -z "$wine_version" ]; then
    echo "wine-up.sh: $wine is missing or does not say its version; run scripts/install-deps.sh first" >&2
    exit 1
fi
mkdir -p "$state"
WINEPREFIX="$state/prefix"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG

for tool in "$wine" "$wineserver" Xvfb; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "wine-up.sh: $tool is missing; run scripts/install-deps.sh first" >&2
        exit 1
    fi
done

# A display of our own, so that screenshots and pixel reads see only the
# program under test.
if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    :
else
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    echo ":$n" >"$state/display"
    tries=0
    while [ ! -e "/tmp/.X11-unix/X$n" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ]; then
            echo "wine-up.sh: Xvfb did not start on :$n; see $state/xvfb.log" >&2
            exit 1
        fi
        sleep 0.1
    done
fi
DISPLAY=$(cat "$state/display")
export DISPLAY

# The prefix is made once, with no DLL overrides in force: wineboot with the
# simulated setupapi would leave it broken. It is made again when wine32
# comes or goes, since only a prefix made with it can run 32-bit programs.
if [ -x /usr/lib/wine/wine ]; then kind="with wine32"; else kind="64-bit only"; fi
if [ ! -f "$state/prefix.ready" ] || [ "$(cat "$state/prefix.ready")" != "$kind" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i </dev/null >"$state/wineboot.log" 2>&1
    "$wineserver" -w
    echo "$kind" >"$state/prefix.ready"
fi

# Programs started from here (the server, Wine's own services) outlive this
# script; none may hold on to the caller's output, or ctest would wait.
"$wineserver" -p </dev/null >"$state/wineserver.log" 2>&1 || true  # already running

# Without a window manager Wine waits 2 s for each window to close unless
# its windows are unmanaged.
reg="$state/settings.reg"
{
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
    for exe in "$@"; do
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\DllOverrides]\r\n' "$exe"
        printf '"hid"="native"\r\n"setupapi"="native"\r\n\r\n'
    done
    # The shipped programs' own names never get them: tests on the real
    # stack start copies under those names. Older trees gave them some.
    for exe in tolvaren.exe tolvaren-send.exe tolvaren-vis.exe tolvaren32.exe; do
        printf '[-HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\DllOverrides]\r\n\r\n' "$exe"
    done
} >"$reg"
"$wine" regedit /S "Z:$(echo "$reg" | sed 's|/|\\|g')" </dev/null >"$state/regedit.log" 2>&1

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
    if ! "$wine" "$lamp_tool" install-driver </dev/null >"$log" 2>&1 ||
        ! "$wine" "$lamp_tool" remove-all </dev/null >>"$log" 2>&1; then
        echo "wine-up.sh: the virtual lamp could not be set up in $WINEPREFIX:" >&2
        cat "$log" >&2
        exit 1
    fi
fi
