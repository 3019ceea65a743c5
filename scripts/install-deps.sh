#!/bin/sh
# Installs the Debian 12 packages the build, the scripts and the tests need,
# when any are missing. Safe to run again: it does nothing when all are
# there.
#   scripts/install-deps.sh [--tests]
# --tests adds what only the tests use: a PulseAudio server of their own,
# espeak-ng, which speaks for the visualiser's tests, xmp, which renders
# the tracker modules among their music excerpts (sox, in the main list for
# scripts/vis-picture.sh, decodes the others), and mmdebstrap, which makes
# the Debian 13 root of their second Wine (scripts/debian13.sh). And for the
# VM tests (tests/vm), which run a Debian kernel with real lamp devices on
# this machine's root: QEMU, busybox-static for the guest's first init, the
# libraries of the guest's udevd, and usbip, with which the guest attaches
# the lamps of the project's own firmware (it starts no daemon). udev
# itself is not installed: its package would start the daemon on this
# machine's own devices; tests/vm unpacks it for the guest alone. The server is left out otherwise, since
# on a desktop that runs PipeWire it would replace PipeWire's PulseAudio
# service.
set -eu

# fonts-wine is only a recommendation of wine, but without its Marlett and
# Tahoma a window's caption buttons show as letters ("0 1 r"). The lamp's
# firmware needs the Arm cross compiler with newlib (the Pico SDK and
# TinyUSB come from Debian 13 through firmware/fetch-sdk.sh), and its tests
# Node.js: Debian's, unless a node and npm are there already.
PACKAGES="cmake ninja-build g++ libgtest-dev googletest
gcc-arm-none-eabi libnewlib-arm-none-eabi libstdc++-arm-none-eabi-newlib
g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
binutils-mingw-w64-i686 wine wine64 fonts-wine xvfb xauth xdotool imagemagick python3
clang clang-14 libclang-rt-14-dev clang-tidy cppcheck pulseaudio-utils sox"
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    PACKAGES="$PACKAGES nodejs npm"
fi
if [ "${1:-}" = "--tests" ]; then
    PACKAGES="$PACKAGES espeak-ng pulseaudio xmp mmdebstrap qemu-system-x86 busybox-static
libacl1 libblkid1 libcap2 libkmod2 libselinux1 usbip"
fi

missing=""
for package in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

echo "install-deps.sh: installing$missing"
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "install-deps.sh: these packages are missing:$missing" >&2
    echo "install-deps.sh: run this script as root (or install sudo) to install them" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
