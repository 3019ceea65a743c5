#!/bin/sh
# Starts the shipped 32-bit program straight under the 32-bit Wine, as a
# user would, beside a 32-bit simulated lamp device, and has the 64-bit
# driver (smoke32_e2e_test.exe) check it end to end and close it. Fails
# unless both the driver passes and the program ends with exit code 0.
#   smoke32.sh BUILD_DIR X86_TEST_BIN_DIR
set -eu
build=$(cd "$1" && pwd)
x86bin=$2
state="$build/wine"
smoke="$build/smoke32"

if [ ! -x /usr/lib/wine/wine ]; then
    echo "smoke32.sh: no 32-bit Wine; run scripts/install-wine32.sh as root" >&2
    exit 1
fi
if [ ! -f "$x86bin/tolvaren32.exe" ] || [ ! -f "$x86bin/hid.dll" ]; then
    echo "smoke32.sh: $x86bin lacks tolvaren32.exe or the simulated device;" \
         "build the windows-x86 preset first" >&2
    exit 1
fi

windows_path() {
    echo "Z:$1" | sed 's|/|\\|g'
}

WINEPREFIX="$state/prefix"
DISPLAY=$(cat "$state/display")
WINEDEBUG=-all
TOLVAREN_SIMDEV=$(windows_path "$smoke")
export WINEPREFIX DISPLAY WINEDEBUG TOLVAREN_SIMDEV

# Without both overrides the simulated hid.dll, lying beside the program,
# is still loaded, but Wine's own setupapi hands it a real HID device, on
# which it waits for good.
for dll in hid setupapi; do
    if ! /usr/lib/wine/wine64 reg query 'HKCU\Software\Wine\AppDefaults\tolvaren32.exe\DllOverrides' \
        /v "$dll" </dev/null 2>/dev/null | grep -q native; then
        echo "smoke32.sh: tolvaren32.exe has no native override for $dll in $WINEPREFIX;" \
             "wine-up.sh writes it when given tolvaren32.exe (see tests/windows/CMakeLists.txt)" >&2
        exit 1
    fi
done

rm -rf "$smoke"
mkdir -p "$smoke"
printf 'vid=16C0\r\npid=05DF\r\nmanufacturer=Tolvaren Lampworks Ltd\r\nproduct=HID-Glimmerix\r\n' \
    >"$smoke/device1"
printf '%s\r\n' "$(windows_path "$smoke/device1")" >"$smoke/interfaces.txt"

/usr/lib/wine/wine "$x86bin/tolvaren32.exe" -v16c0 -p05DF </dev/null >"$smoke/program.log" 2>&1 &
program=$!

# A 32-bit start under qemu takes about a minute. The program's window
# comes only after its device search; a box titled just "Tolvaren Glimmerix"
# is its no-device box, which waits for a click that never comes here.
main_window='^Tolvaren Glimmerix \(VID='
no_device_box='^Tolvaren Glimmerix$'
waited=0
while [ $waited -lt 600 ] && kill -0 $program 2>/dev/null &&
    ! xdotool search --name "$main_window" >/dev/null 2>&1 &&
    ! xdotool search --name "$no_device_box" >/dev/null 2>&1; do
    sleep 0.5
    waited=$((waited + 1))
done
if ! xdotool search --name "$main_window" >/dev/null 2>&1; then
    if xdotool search --name "$no_device_box" >/dev/null 2>&1; then
        echo "smoke32.sh: tolvaren32.exe found no lamp (its no-device box is showing);" \
             "see $smoke/program.log" >&2
    elif ! kill -0 $program 2>/dev/null; then
        echo "smoke32.sh: tolvaren32.exe ended before showing its window; see $smoke/program.log" >&2
    else
        echo "smoke32.sh: tolvaren32.exe showed no window in $((waited / 2)) s" >&2
    fi
    kill $program 2>/dev/null || true
    wait $program 2>/dev/null || true
    exit 1
fi

driver=0
"$(dirname "$0")/wine-run.sh" "$build" "$build/tests/bin/smoke32_e2e_test.exe" "$smoke" || driver=$?
# The driver closed the window, or ended the program when it failed.
code=0
wait $program || code=$?

status=0
if [ $driver -ne 0 ]; then
    echo "smoke32.sh: the driver failed (exit code $driver)" >&2
    status=1
fi
if [ $code -ne 0 ]; then
    echo "smoke32.sh: tolvaren32.exe ended with exit code $code, not 0" >&2
    status=1
fi
exit $status
