#!/bin/sh
# Makes the release people download: dist/tolvaren-VERSION-win32.zip with
# the 32-bit programs, the lamp's firmware (tolvaren-lamp.uf2), its wiring
# picture, its udev rule for Linux and a README.txt, and beside it
# dist/SHA256SUMS for the zip and each file in it. The same commit gives the
# same bytes, whoever builds it wherever: every date in the zip is the
# commit's (or SOURCE_DATE_EPOCH's, when set). Safe to run again.
#   scripts/release.sh [--build-dir DIR [--firmware-dir DIR]] [--out DIR]
# --build-dir builds in DIR instead of build/windows-x86, and the firmware in
# --firmware-dir's DIR (DIR-firmware unless given) instead of
# build/firmware-rp2040; --out puts the zip and SHA256SUMS in DIR instead of
# dist/. TOLVAREN_PICO_CACHE names where the firmware's Pico SDK is fetched
# to, instead of build/pico-sdk.
set -eu
cd "$(dirname "$0")/.."

build=""
firmware=""
out=dist
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build=${2:?--build-dir takes a folder}; shift 2 ;;
    --firmware-dir) firmware=${2:?--firmware-dir takes a folder}; shift 2 ;;
    --out) out=${2:?--out takes a folder}; shift 2 ;;
    *)
        echo "release.sh: unknown option '$1'; usage: scripts/release.sh [--build-dir DIR [--firmware-dir DIR]] [--out DIR]" >&2
        exit 2
        ;;
    esac
done

scripts/install-deps.sh
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null); then
        echo "release.sh: this is no git checkout, so the commit's time is unknown; set" \
             "SOURCE_DATE_EPOCH to the release's time in seconds since 1970" >&2
        exit 1
    fi
    if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
        echo "release.sh: note: the sources differ from the last commit; this zip is not that" \
             "commit's release" >&2
    fi
fi
export SOURCE_DATE_EPOCH

if [ -n "$build" ]; then
    firmware=${firmware:-$build-firmware}
    cmake --preset firmware-rp2040 -B "$firmware" -DTOLVAREN_TESTS=OFF \
        ${TOLVAREN_PICO_CACHE:+"-DTOLVAREN_PICO_CACHE=$TOLVAREN_PICO_CACHE"} >/dev/null
    cmake --build "$firmware"
    cmake --preset windows-x86 -B "$build" -DTOLVAREN_TESTS=OFF \
        -DTOLVAREN_FIRMWARE_UF2="$(cd "$firmware" && pwd)/tolvaren-lamp.uf2" >/dev/null
    cmake --build "$build" --target package
else
    build=build/windows-x86
    cmake --preset firmware-rp2040 ${TOLVAREN_PICO_CACHE:+"-DTOLVAREN_PICO_CACHE=$TOLVAREN_PICO_CACHE"} >/dev/null
    cmake --build --preset firmware-rp2040
    cmake --preset windows-x86 >/dev/null
    cmake --build --preset windows-x86 --target package
fi

mkdir -p "$out"
zip=$(cd "$build/dist" && ls tolvaren-*-win32.zip)
rm -f "$out"/tolvaren-*-win32.zip "$out/SHA256SUMS"
cp "$build/dist/$zip" "$build/dist/SHA256SUMS" "$out/"
echo "release.sh: the release is $out/$zip"
echo "release.sh: its SHA-256 is $(sed -n "s/  $zip\$//p" "$out/SHA256SUMS") (all in $out/SHA256SUMS)"
