#!/bin/sh
# Starts the shipped 32-bit program as a user would: unpacked from the
# release zip into a folder of its own and started straight under the
# 32-bit Wine, beside a virtual lamp on Wine's own HID stack (nothing
# substituted). The 64-bit driver (smoke32_e2e_test.exe) then checks it end
# to end and closes it. Fails unless both the driver passes and the program
# ends with exit code 0.
#   smoke32.sh BUILD_DIR RELEASE_ZIP
set -eu
build=$(cd "$1" && pwd)
zip=$2
# shellcheck source=tests/wine/wine-state.sh
. "$(dirname "$0")/wine-state.sh"
smoke="$state/smoke32"
lamp_tool="$build/tools/virtual-lamp/virtual-lamp.exe"

if [ -z "$wine32" ]; then
    echo "smoke32.sh: $wine64 has no 32-bit half; run scripts/install-wine32.sh as root" >&2
    exit 1
fi
if [ ! -f "$zip" ]; then
    echo "smoke32.sh: there is no release zip $zip; build it with" \
         "cmake --build --preset windows-x86 --target package (ctest's release_package does)" >&2
    exit 1
fi

WINEPREFIX="$state/prefix"
DISPLAY=$(cat "$state/display")
WINEDEBUG=-all
export WINEPREFIX DISPLAY WINEDEBUG

rm -rf "$smoke"
mkdir -p "$smoke/release"
python3 -m zipfile -e "$zip" "$smoke/release"
if [ ! -f "$smoke/release/tolvaren.exe" ]; then
    echo "smoke32.sh: $zip holds no tolvaren.exe" >&2
    exit 1
fi
# The program must get Wine's own HID stack, as a user's does.
if "$wine64" reg query 'HKCU\Software\Wine\AppDefaults\tolvaren.exe\DllOverrides' \
    </dev/null >/dev/null 2>&1; then
    echo "smoke32.sh: tolvaren.exe has DLL overrides in $WINEPREFIX, so it would not use Wine's own" \
         "HID stack; wine-up.sh removes them (run the tests through ctest)" >&2
    exit 1
fi

if ! lamp=$("$wine64" "$lamp_tool" add --log "$smoke/lamp.log" </dev/null 2>"$smoke/lamp.err"); then
    echo "smoke32.sh: the virtual lamp could not be added:" >&2
    cat "$smoke/lamp.err" >&2
    exit 1
fi
lamp=$(printf '%s\n' "$lamp" | tr -d '\r' | tail -n 1)
remove_lamp() {
    "$wine64" "$lamp_tool" remove "$lamp" </dev/null >/dev/null 2>&1 || true
}
trap remove_lamp EXIT

"$wine32" "$smoke/release/tolvaren.exe" -v16c0 -p05DF </dev/null >"$smoke/program.log" 2>&1 &
program=$!

# A 32-bit start under qemu takes about a minute. The program's window
# comes only after its device search; a box titled just "Tolvaren Glimmerix"
# is its no-device box, which waits for a click that never comes here.
main_window='^Tolvaren Glimmerix \(VID='
no_device_box='^Tolvaren Glimmerix$'
# shellcheck disable=SC2317  # it is called, through wait_for
window_or_box() {
    xdotool search --name "$main_window" >/dev/null 2>&1 || xdotool search --name "$no_device_box" >/dev/null 2>&1
}
wait_for --while $program 300 "tolvaren.exe's window or its no-device box" window_or_box || true
if ! xdotool search --name "$main_window" >/dev/null 2>&1; then
    if xdotool search --name "$no_device_box" >/dev/null 2>&1; then
        printf '%s %s\n' "smoke32.sh: the 32-bit tolvaren.exe found no lamp (its no-device box is" \
            "showing) although the virtual lamp $lamp is there; see $smoke/program.log" >&2
    elif ! kill -0 $program 2>/dev/null; then
        echo "smoke32.sh: tolvaren.exe ended before showing its window; see $smoke/program.log" >&2
    else
        echo "smoke32.sh: tolvaren.exe showed no window (above); see $smoke/program.log" >&2
    fi
    kill $program 2>/dev/null || true
    wait $program 2>/dev/null || true
    exit 1
fi

driver=0
"$(dirname "$0")/wine-run.sh" "$build" "$build/tests/real/smoke32_e2e_test.exe" "$smoke/lamp.log" || driver=$?
# The driver closed the window, or ended the program when it failed.
code=0
wait $program || code=$?

status=0
if [ $driver -ne 0 ]; then
    echo "smoke32.sh: the driver failed (exit code $driver)" >&2
    status=1
fi
if [ $code -ne 0 ]; then
    echo "smoke32.sh: tolvaren.exe ended with exit code $code, not 0" >&2
    status=1
fi
exit $status
