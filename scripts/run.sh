#!/bin/sh
# Installs what is missing, builds the program and starts it under Wine.
#   scripts/run.sh [--x86] [PROGRAM OPTIONS...]    e.g. scripts/run.sh -v16c0 -p05df
# Without a DISPLAY it starts a virtual display (Xvfb) and says how to look
# at it. The program runs until its window is closed (or Ctrl-C).
# --x86 starts the 32-bit build, the one users get; on kernels without
# 32-bit support that needs wine32 and qemu-user and starts slowly.
set -eu
cd "$(dirname "$0")/.."

preset=windows-x64
wine=/usr/lib/wine/wine64
if [ "${1:-}" = "--x86" ]; then
    preset=windows-x86
    wine=wine
    shift
fi

scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target tolvaren

WINEPREFIX="$PWD/build/run/wineprefix"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
mkdir -p build/run

virtual=""
if [ -z "${DISPLAY:-}" ]; then
    virtual=yes
    n=70
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >build/run/xvfb.log 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null' EXIT INT TERM
    DISPLAY=":$n"
    export DISPLAY
    sleep 1
    echo "run.sh: no DISPLAY, so the window is on the virtual display $DISPLAY."
    echo "run.sh: to see it: import -display $DISPLAY -window root shot.png"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "run.sh: making the Wine prefix $WINEPREFIX (once; about half a minute)"
    /usr/lib/wine/wine64 wineboot -i >build/run/wineboot.log 2>&1
    /usr/lib/wine/wineserver -w
fi

echo "run.sh: starting build/$preset/tolvaren.exe $*"
echo "run.sh: light its lamps from another terminal (scripts/send.sh 00FF);" \
     "close its window (or Ctrl-C) to stop."
"$wine" "build/$preset/tolvaren.exe" "$@" &
program=$!

# Nobody can press OK on a virtual display: when the program says that it
# found no lamp device, press it for them, so that the window opens.
if [ -n "$virtual" ]; then
    tries=0
    while [ $tries -lt 300 ] && kill -0 $program 2>/dev/null; do
        xdotool search --name '^Tolvaren Glimmerix \(VID=' >/dev/null 2>&1 && break
        box=$(xdotool search --name '^Tolvaren Glimmerix$' 2>/dev/null | head -n 1)
        if [ -n "$box" ]; then
            echo "run.sh: the program found no lamp device and says so in a box; pressing its OK"
            xdotool windowfocus --sync "$box" key --window "$box" Return
            break
        fi
        tries=$((tries + 1))
        sleep 0.2
    done
fi
wait $program
