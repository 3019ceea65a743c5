#!/bin/sh
# Lets this machine run the 32-bit Windows build under Wine: wine32 from
# Debian's i386 architecture, and, on kernels that refuse 32-bit programs,
# qemu-user registered through binfmt_misc to run them. Needs root.
# Safe to run again. Afterwards plain `wine` is the (slow) emulated 32-bit
# loader: start 64-bit programs with /usr/lib/wine/wine64.
#   scripts/install-wine32.sh [--qemu-only]
# --qemu-only leaves wine32 out: for a Wine of another root
# (scripts/debian13.sh), whose own wine32 needs only qemu-user here.
set -eu
qemu_only=""
[ "${1:-}" = "--qemu-only" ] && qemu_only=yes

if [ "$(id -u)" -ne 0 ]; then
    echo "install-wine32.sh: needs root, to install packages and register qemu with binfmt_misc" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

if [ -n "$qemu_only" ]; then
    if ! installed qemu-user-static; then
        apt-get update -q
        apt-get install -y -q --no-install-recommends qemu-user-static
    fi
elif ! installed qemu-user-static || ! installed wine32:i386; then
    dpkg --add-architecture i386
    apt-get update -q
    apt-get install -y -q --no-install-recommends qemu-user-static wine32:i386
fi

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
    # i386 ELF executables, handled by qemu opened at registration (F), so
    # the handler works inside any mount namespace.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        >"$binfmt/register"
fi
