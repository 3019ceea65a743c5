#!/bin/sh
# Proves the release: builds it twice, from two copies of the sources at
# different paths into different build folders, and compares every byte of
# the two zips, their SHA256SUMS and the files in them; then checks what
# the zip holds: exactly the files it should, README.txt in CRLF lines, each
# executable a 32-bit PE of the right kind (GUI or console) importing only
# Windows' own DLLs (and the program nothing that Windows 9x lacks), the
# lamp's UF2 made of RP2040 blocks (the same bytes from both copies, each
# built on a Pico SDK unpacked at its own path), the wiring picture and the
# udev rule as committed, and the SHA256SUMS right. The unpacked release stays in
# build/release-check/unpacked. Exits non-zero, saying what differs, on any
# fault.
#   scripts/check-release.sh
set -eu
cd "$(dirname "$0")/.."
top=$PWD
work=$top/build/release-check

# What the zip holds, in its order, and each executable's subsystem.
expected="tolvaren.exe tolvaren-send.exe tolvaren-vis.exe tolvaren-lamp.uf2 lamp-wiring.png 70-tolvaren-lamp.rules README.txt"
gui_programs="tolvaren.exe"

fail() {
    echo "check-release.sh: $*" >&2
    exit 1
}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
        fail "this is no git checkout; set SOURCE_DATE_EPOCH to the release's time"
fi
export SOURCE_DATE_EPOCH

rm -rf "$work"
mkdir -p "$work"
for copy in one "second copy, at a longer path"; do
    src="$work/$copy/src"
    mkdir -p "$src"
    # The sources as they are now, committed or not, without build output.
    git ls-files -z --cached --others --exclude-standard |
        tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$src"
    # Each copy builds the firmware on a Pico SDK unpacked at a path of its
    # own, from the packages downloaded here if they are, rather than
    # fetching them again. The SDK takes no comma in its path or its build
    # folder's.
    name=$(echo "$copy" | cut -d, -f1)
    if [ -d build/pico-sdk/downloads ]; then
        mkdir -p "$work/pico-sdk $name/downloads"
        cp build/pico-sdk/downloads/*.deb "$work/pico-sdk $name/downloads/" 2>/dev/null || true
    fi
    echo "== check-release: building the release in $work/$copy"
    (cd "$src" && TOLVAREN_PICO_CACHE="$work/pico-sdk $name" scripts/release.sh --build-dir "$work/$copy/build" \
        --firmware-dir "$work/firmware $name" --out "$work/$copy/dist") \
        >"$work/$copy.log" 2>&1 || { tail -n 30 "$work/$copy.log" >&2; fail "building the release failed (above; all of it in $work/$copy.log)"; }
done

one="$work/one/dist"
two="$work/second copy, at a longer path/dist"
zip=$(cd "$one" && ls tolvaren-*-win32.zip)
[ -f "$two/$zip" ] || fail "the second build made no $zip"
unpack() {
    rm -rf "$2"
    python3 -m zipfile -e "$1" "$2" || fail "$1 can't be unpacked"
}
unpack "$one/$zip" "$work/unpacked"
unpack "$two/$zip" "$work/unpacked-second"
for name in $expected; do
    cmp "$work/unpacked/$name" "$work/unpacked-second/$name" ||
        fail "$name differs between the two builds: something in it depends on the time, the path or the build folder"
done
cmp "$one/$zip" "$two/$zip" || fail "the two zips differ although the files in them are the same"
cmp "$one/SHA256SUMS" "$two/SHA256SUMS" || fail "the two SHA256SUMS differ"
echo "== check-release: both builds gave the same $zip, byte for byte ($(wc -c <"$one/$zip") bytes)"

listed=$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$one/$zip")
[ "$listed" = "$expected" ] || fail "$zip holds '$listed', not '$expected'"

readme="$work/unpacked/README.txt"
lines=$(wc -l <"$readme")
crlf=$(grep -c "$(printf '\r')\$" "$readme" || true)
[ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "README.txt has $lines lines of which $crlf end in CRLF; all must"

objdump=i686-w64-mingw32-objdump
for name in $expected; do
    case $name in *.exe) ;; *) continue ;; esac
    header=$("$objdump" -p "$work/unpacked/$name")
    echo "$header" | grep -q '^Magic[[:space:]]*010b' || fail "$name is not a 32-bit (PE32) executable"
    want=3
    kind=console
    case " $gui_programs " in *" $name "*) want=2; kind=GUI ;; esac
    echo "$header" | grep -q "^Subsystem[[:space:]]*0000000$want" || fail "$name is not a $kind program"
    if [ "$name" = tolvaren.exe ]; then
        tests/pe/check-imports.sh "$objdump" --loads-on-9x "$work/unpacked/$name" || fail "$name imports what it must not"
    else
        tests/pe/check-imports.sh "$objdump" "$work/unpacked/$name" || fail "$name imports what it must not"
    fi
done

python3 - "$work/unpacked/tolvaren-lamp.uf2" <<'PY' || fail "tolvaren-lamp.uf2 is no UF2 for the RP2040"
import struct, sys
data = open(sys.argv[1], "rb").read()
count = len(data) // 512
assert count > 0 and len(data) == count * 512
for number in range(count):
    block = struct.unpack_from("<8I", data, number * 512)
    end, = struct.unpack_from("<I", data, number * 512 + 508)
    assert block[:3] == (0x0A324655, 0x9E5D5157, 0x2000) and end == 0x0AB16F30, number
    assert 0x10000000 <= block[3] < 0x10200000 and block[4:8] == (256, number, count, 0xE48BFF56), number
PY
cmp "$work/unpacked/lamp-wiring.png" docs/lamp-wiring.png || fail "lamp-wiring.png is not docs/lamp-wiring.png"
cmp "$work/unpacked/70-tolvaren-lamp.rules" release/70-tolvaren-lamp.rules ||
    fail "70-tolvaren-lamp.rules is not release/70-tolvaren-lamp.rules"

(cd "$one" && sha256sum --quiet -c --ignore-missing SHA256SUMS) || fail "SHA256SUMS is wrong for the zip"
(cd "$work/unpacked" && sha256sum --quiet -c --ignore-missing "$one/SHA256SUMS") ||
    fail "SHA256SUMS is wrong for a file in the zip"
[ "$(wc -l <"$one/SHA256SUMS")" -eq $(($(echo "$expected" | wc -w) + 1)) ] ||
    fail "SHA256SUMS does not list the zip and each file in it"
echo "== check-release: $zip holds $expected as it should; unpacked in $work/unpacked"
