#!/bin/sh
# Starts the shipped 32-bit program straight under the 32-bit Wine, as a
# user would, beside a 32-bit simulated lamp device, and has the 64-bit
# driver (smoke32_e2e_test.exe) check it end to end and close it. Fails
# unless both the driver passes and the program ends with exit code 0;
# exit code 77 (skipped) when the emulated start stalls, as noted below.
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

rm -rf "$smoke"
mkdir -p "$smoke"
printf 'vid=16C0\r\npid=05DF\r\nmanufacturer=Tolvaren Lampworks Ltd\r\nproduct=HID-Glimmerix\r\n' \
    >"$smoke/device1"
printf '%s\r\n' "$(windows_path "$smoke/device1")" >"$smoke/interfaces.txt"

/usr/lib/wine/wine "$x86bin/tolvaren32.exe" -v16c0 -p05DF </dev/null >"$smoke/program.log" 2>&1 &
program=$!

# In a newly made prefix, the first 32-bit start under qemu has been seen
# to stall for good before the program's first window when run from here
# (after about a minute of CPU time), while the same start from a login
# shell went through and left the prefix working. Until that is
# understood, a start that shows no window within 180 s is reported as
# skipped (exit code 77), not as the program's failure.
waited=0
while [ $waited -lt 360 ] && kill -0 $program 2>/dev/null &&
    ! xdotool search --name '^Tolvaren Glimmerix \(VID=' >/dev/null 2>&1; do
    sleep 0.5
    waited=$((waited + 1))
done
if ! xdotool search --name '^Tolvaren Glimmerix \(VID=' >/dev/null 2>&1; then
    kill $program 2>/dev/null || true
    wait $program 2>/dev/null || true
    if [ -s "$smoke/events.log" ]; then
        echo "smoke32.sh: tolvaren32.exe looked for its device but showed no window" >&2
        exit 1
    fi
    echo "smoke32.sh: SKIPPED: the 32-bit Wine under qemu stalled before tolvaren32.exe" \
         "reached its device search (an emulation stall; see the note in tests/wine/smoke32.sh)" >&2
    exit 77
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
