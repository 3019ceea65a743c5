#!/bin/sh
# Runs a command under Debian 13's Wine 10 beside this Debian 12 machine's
# Wine 8: in a Debian 13 root of its own, made once (2 to 8 minutes,
# depending on the machine's load, and 2.2 GB) and kept under
# build/debian13/, made again when its package list here changes.
#   scripts/debian13.sh CMD [ARGS...]   e.g. scripts/debian13.sh scripts/run.sh --virtual-lamp
#   scripts/debian13.sh --root          makes the root if need be and prints where it is
# CMD runs as root in private mount, PID and network namespaces, with this
# project at the same path and a fresh /tmp: what it starts (Wine, Xvfb, a
# PulseAudio server) ends with it, and its display numbers and processes
# never meet this machine's. The root has no compilers: the Windows programs
# are built here first, and the scripts inside use those builds.
# A desktop's DISPLAY reaches inside, so the window shows on the desktop.
# TOLVAREN_DEBIAN13_CACHE names another folder for the root (to share one
# between checkouts); TOLVAREN_DEBIAN_MIRROR another Debian mirror.
# Needs root, for the namespaces and chroot (and to make the root).
set -eu
cd "$(dirname "$0")/.."
project=$PWD
cache=${TOLVAREN_DEBIAN13_CACHE:-$project/build/debian13}
root=$cache/root
mirror=${TOLVAREN_DEBIAN_MIRROR:-http://deb.debian.org/debian}

# What the tests and the scripts run inside: Wine 10 with its 32-bit half
# (the release is 32-bit), its fonts (without them caption buttons show as
# letters), a virtual display, a PulseAudio server, and the tests' tools
# (ctest, and objdump for the check of what the programs import).
PACKAGES="wine wine64 wine32:i386 fonts-wine xvfb xauth xdotool imagemagick
pulseaudio pulseaudio-utils cmake procps python3 binutils-mingw-w64-x86-64
binutils-mingw-w64-i686"

if [ "$(id -u)" -ne 0 ]; then
    echo "debian13.sh: needs root, to make the Debian 13 root and to enter it (namespaces, chroot);" \
         "run it with sudo" >&2
    exit 1
fi
if [ $# -eq 0 ]; then
    echo "debian13.sh: nothing to run; usage: scripts/debian13.sh CMD [ARGS...], or --root" >&2
    exit 2
fi

# The root is made under a lock, so that two checkouts sharing a cache
# never make it at once, and into a new folder first, so that a root cut
# short is never taken for a whole one.
make_root() {
    wanted=$(printf 'trixie %s\n%s\n' "$mirror" "$PACKAGES")
    if [ -f "$cache/packages" ] && [ "$(cat "$cache/packages")" = "$wanted" ] && [ -x "$root/usr/lib/wine/wine64" ]; then
        return 0
    fi
    if ! command -v mmdebstrap >/dev/null 2>&1; then
        echo "debian13.sh: installing mmdebstrap, which makes the root"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends mmdebstrap ||
            { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends mmdebstrap; }
    fi
    echo "debian13.sh: making the Debian 13 root in $root (once; a few minutes)"
    started=$(date +%s)
    rm -rf "$root.new"
    log="$cache/mmdebstrap.log"
    include=$(printf '%s' "$PACKAGES" | tr -s ' \n' ',,')
    if ! mmdebstrap --mode=root --variant=apt --components=main --architectures=amd64,i386 \
        --include="$include" trixie "$root.new" "deb $mirror trixie main" >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        echo "debian13.sh: making the root failed (above; all of it in $log); check that $mirror" \
             "answers, or set TOLVAREN_DEBIAN_MIRROR to a Debian mirror that does" >&2
        rm -rf "$root.new"
        exit 1
    fi
    rm -rf "$root"
    mv "$root.new" "$root"
    printf '%s\n' "$wanted" >"$cache/packages"
    echo "debian13.sh: made the root in $(($(date +%s) - started))s"
}

mkdir -p "$cache"
(
    flock 9
    make_root
) 9>"$cache/lock"

if [ "$1" = "--root" ]; then
    echo "$root"
    exit 0
fi

# The scripts inside neither install nor build: what they need is built
# here. The root's 32-bit Wine needs qemu-user where this kernel refuses
# 32-bit programs.
scripts/install-deps.sh
scripts/install-wine32.sh --qemu-only
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done

display_socket=""
case ${DISPLAY:-} in
:[0-9]*) [ -d /tmp/.X11-unix ] && display_socket=/tmp/.X11-unix ;;
*) unset DISPLAY ;;
esac
xauthority=""
if [ -n "$display_socket" ] && [ -f "${XAUTHORITY:-}" ]; then xauthority=$XAUTHORITY; fi

TOLVAREN_DEBIAN13=1
export TOLVAREN_DEBIAN13
# shellcheck disable=SC2016  # expanded by the inner shell
exec unshare --mount --pid --fork --net --propagation private sh -c '
    set -eu
    root=$1 project=$2 display_socket=$3 xauthority=$4
    shift 4
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
    mkdir -p "$root$project"
    mount --bind "$project" "$root$project"
    if [ -n "$display_socket" ]; then
        mkdir -p "$root/tmp/.X11-unix"
        mount --bind "$display_socket" "$root/tmp/.X11-unix"
    fi
    if [ -n "$xauthority" ]; then
        mkdir -p "$root$(dirname "$xauthority")"
        touch "$root$xauthority"
        mount --bind "$xauthority" "$root$xauthority"
    fi
    ip link set lo up
    exec chroot "$root" /bin/sh -c "cd \"\$0\" && exec \"\$@\"" "$project" "$@"
' debian13 "$root" "$project" "$display_socket" "$xauthority" "$@"
