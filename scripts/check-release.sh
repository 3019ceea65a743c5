#!/bin/sh
# Proves the release: builds it twice, from two copies of the sources at
# different paths into different build folders, and compares every byte of
# the two zips, their SHA256SUMS and the files in them; then checks what
# the zip holds: exactly the files it should, README.txt in CRLF lines, each
# executable a 32-bit PE of the right kind (GUI or console) importing only
# Windows' own DLLs (and the program nothing that Windows 9x lacks), and
# the SHA256SUMS right. The unpacked release stays in
# build/release-check/unpacked. Exits non-zero, saying what differs, on any
# fault.
#   scripts/check-release.sh
set -eu
cd "$(dirname "$0")/.."
top=$PWD
work=$top/build/release-check

# What the zip holds, in its order, and each executable's subsystem.
expected="tolvaren.exe tolvaren-send.exe tolvaren-vis.exe README.txt"
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
    echo "== check-release: building the release in $work/$copy"
    (cd "$src" && scripts/release.sh --build-dir "$work/$copy/build" --out "$work/$copy/dist") \
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

(cd "$one" && sha256sum --quiet -c --ignore-missing SHA256SUMS) || fail "SHA256SUMS is wrong for the zip"
(cd "$work/unpacked" && sha256sum --quiet -c --ignore-missing "$one/SHA256SUMS") ||
    fail "SHA256SUMS is wrong for a file in the zip"
[ "$(wc -l <"$one/SHA256SUMS")" -eq $(($(echo "$expected" | wc -w) + 1)) ] ||
    fail "SHA256SUMS does not list the zip and each file in it"
echo "== check-release: $zip holds $expected as it should; unpacked in $work/unpacked"
