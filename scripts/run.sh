#!/bin/sh
# Installs what is missing, builds the program and starts it under Wine.
#   scripts/run.sh [--x86] [--virtual-lamp] [PROGRAM OPTIONS...]
#                                           e.g. scripts/run.sh -v16c0 -p05df
# Without a DISPLAY it starts a virtual display (Xvfb) and says how to look
# at it. The program runs until its window is closed (or Ctrl-C).
# --x86 starts the 32-bit build, the one users get; on kernels without
# 32-bit support that needs wine32 and qemu-user and starts slowly.
# --virtual-lamp plugs a virtual lamp into Wine's own HID stack first, with
# the ids the program looks for, and logs every report it receives to
# build/run/virtual-lamp.log; it is unplugged when the program ends.
set -eu
cd "$(dirname "$0")/.."
. scripts/wine-tool.sh

x86=""
virtual_lamp=""
while [ $# -gt 0 ]; do
    case $1 in
    --x86) x86=--x86; shift ;;
    --virtual-lamp) virtual_lamp=yes; shift ;;
    *) break ;;
    esac
done

pick_build "$x86" || true
build_targets tolvaren
lamp_tool=build/windows-x64/tools/virtual-lamp/virtual-lamp.exe
if [ -n "$virtual_lamp" ]; then
    # The lamp's driver is 64-bit code whichever build runs: Wine runs
    # drivers as such, in the WoW64 prefix of a 32-bit program too.
    program_preset=$preset
    preset=windows-x64
    build_targets virtual-lamp
    preset=$program_preset
fi

mkdir -p build/run

virtual=""
if [ -z "${DISPLAY:-}" ]; then
    virtual=yes
    display_start build/run/xvfb.log || exit 1
    xvfb=$display_pid
    trap 'kill $xvfb 2>/dev/null' EXIT INT TERM
    echo "run.sh: no DISPLAY, so the window is on the virtual display $DISPLAY."
    echo "run.sh: to see it: import -display $DISPLAY -window root shot.png"
fi

setup_prefix build/run "$virtual"

if [ -n "$virtual_lamp" ]; then
    ids=$(scripts/lamp-ids.sh "$@")
    log="$PWD/build/run/virtual-lamp.log"
    # A lamp a run before left plugged in (killed, say) would be found first.
    "$wine64" "$lamp_tool" remove-all >build/run/virtual-lamp.err 2>&1 || true
    if ! lamp=$("$wine64" "$lamp_tool" add --vid "${ids% *}" --pid "${ids#* }" --log "$log" \
        2>build/run/virtual-lamp.err); then
        cat build/run/virtual-lamp.err >&2
        echo "run.sh: the virtual lamp could not be plugged in (above); see" \
             "$lamp_tool --help" >&2
        exit 1
    fi
    lamp=$(printf '%s\n' "$lamp" | tr -d '\r' | tail -n 1)
    unplug() {
        "$wine64" "$lamp_tool" remove "$lamp" >/dev/null 2>&1 || true
        [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
        return 0
    }
    trap unplug EXIT
    trap 'exit 130' INT TERM
    printf "run.sh: a virtual lamp %s:%s (%s) is plugged into Wine's own HID stack.\n" "${ids% *}" "${ids#* }" "$lamp"
    echo "run.sh: to watch what it receives: tail -f build/run/virtual-lamp.log"
else
    # A real lamp reaches the program only if this user may open its hidraw
    # node; say so now rather than leave the user with "no HID found".
    scripts/hidraw-lamp.sh "$@" | sed 's/^hidraw-lamp.sh/run.sh/' || true
fi

echo "run.sh: starting build/$preset/tolvaren.exe${*:+ $*} under $wine_version_text"
echo "run.sh: light its lamps from another terminal (scripts/send.sh 00FF);" \
     "close its window (or Ctrl-C) to stop."
"$wine" "build/$preset/tolvaren.exe" "$@" &
program=$!

# Nobody can press OK on a virtual display: when the program says that it
# found no lamp device, press it for them, so that the window opens.
# shellcheck disable=SC2317  # it is called, through wait_for
window_or_box() {
    xdotool search --name '^Tolvaren Glimmerix \(VID=' >/dev/null 2>&1 ||
        xdotool search --name '^Tolvaren Glimmerix$' >/dev/null 2>&1
}
if [ -n "$virtual" ] && wait_for --while $program 60 "the program's window or its no-device box" window_or_box; then
    box=$(xdotool search --name '^Tolvaren Glimmerix$' 2>/dev/null | head -n 1)
    if [ -n "$box" ]; then
        echo "run.sh: the program found no lamp device and says so in a box; pressing its OK"
        xdotool windowfocus --sync "$box" key --window "$box" Return
    fi
fi
wait $program
