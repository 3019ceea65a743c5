#!/bin/sh
# Runs the kernel lamp checks (tests/vm/checks.sh) in a small VM: a Debian
# kernel under QEMU, whose root is this machine's own, read-only, with a
# throwaway tmpfs on top. There the lamps are real kernel HID devices (a USB
# gadget on dummy_hcd, and uhid), which this machine's kernel can't make,
# and lamps of the project's own firmware: each its UF2 in an emulated
# RP2040 here (tests/vm/emulated_lamps.mjs), which the guest attaches over
# USB/IP through a virtio-serial port (tests/vm/vm_link.h).
#   tests/vm/run.sh wine8|wine10
# wine8 runs the programs under this machine's Wine 8; wine10 under the
# Wine 10 of the Debian 13 root that scripts/debian13.sh makes (its cache
# folder: TOLVAREN_DEBIAN13_CACHE, build/debian13 unless set).
# Needs the native, windows-x64 and firmware-rp2040 builds, and what
# `scripts/install-deps.sh --tests` installs. The kernel and udev packages
# are downloaded once into build/vm. Everything the guest writes is gone
# when it stops, except its results in build/vm/RUN/out (the guest's
# console in console.log).
set -eu
cd "$(dirname "$0")/../.."
. scripts/lib/wine.sh
project=$PWD
vm=$project/build/vm

# The guest's kernel: bookworm's, pinned so that every run boots the same
# one. Debian drops old kernel builds from its archive after a while; then
# the one its linux-image-amd64 depends on is taken, with a warning.
KERNEL_PACKAGE=linux-image-6.1.0-57-amd64
KERNEL_VERSION=6.1.192-3
# The longest a guest may run before it is stopped.
TIMEOUT_SECONDS=${TOLVAREN_VM_TIMEOUT:-600}

say() { echo "vm: $*"; }
die() {
    echo "vm: $*" >&2
    exit 1
}

case ${1:-} in
wine8 | wine10) run=$1 ;;
*) die "say which Wine to run under: tests/vm/run.sh wine8 (this machine's) or wine10 (Debian 13's)" ;;
esac

for tool in qemu-system-x86_64 apt-get dpkg-deb timeout node usbip; do
    command -v "$tool" >/dev/null 2>&1 ||
        die "$tool is missing; run scripts/install-deps.sh --tests (as root) to install what the VM needs"
done
busybox=/bin/busybox
dpkg-query -W -f='${Status}' busybox-static 2>/dev/null | grep -q "install ok installed" ||
    die "busybox-static is missing (the guest's first init is made of it); run scripts/install-deps.sh --tests"
[ "$(id -u)" -eq 0 ] ||
    die "run this as root (sudo tests/vm/run.sh $run): the guest's user gets a Wine prefix made under its own id"

mkdir -p "$vm/downloads"

# download PACKAGE[=VERSION]: the .deb's path, fetched once.
download() {
    name=${1%%=*}
    found=$(find "$vm/downloads" -maxdepth 1 -name "${name}_*.deb" | head -n 1)
    case $1 in *=*) found=$(find "$vm/downloads" -maxdepth 1 -name "${name}_$(echo "${1#*=}" | sed 's/:/%3a/')_*.deb" | head -n 1) ;; esac
    if [ -z "$found" ]; then
        (cd "$vm/downloads" && apt-get download -q "$1" >"$vm/downloads/$name.log" 2>&1) || return 1
        found=$(find "$vm/downloads" -maxdepth 1 -name "${name}_*.deb" | head -n 1)
    fi
    echo "$found"
}

started=$(date +%s)
kernel_package=$KERNEL_PACKAGE
if ! kernel_deb=$(download "$KERNEL_PACKAGE=$KERNEL_VERSION"); then
    kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
    if [ -z "$kernel_package" ] || ! kernel_deb=$(download "$kernel_package"); then
        die "the guest's kernel $KERNEL_PACKAGE $KERNEL_VERSION could not be downloaded" \
            "(see $vm/downloads/$KERNEL_PACKAGE.log); run apt-get update and try again"
    fi
    echo "vm: WARNING: the pinned kernel $KERNEL_PACKAGE $KERNEL_VERSION is no longer in the archive;" \
         "using $kernel_package instead. Pin it in tests/vm/run.sh (KERNEL_PACKAGE, KERNEL_VERSION)." >&2
fi
kernel_release=${kernel_package#linux-image-}
kernel=$vm/kernel-$kernel_release
modules=./lib/modules/$kernel_release
# The kernel and the modules the guest uses, and those they depend on
# (usbip's vhci-hcd is among the USB ones; virtio_console makes the link's
# port).
KERNEL_PARTS="./boot/vmlinuz-* $modules/modules.* $modules/kernel/drivers/hid $modules/kernel/drivers/usb
$modules/kernel/drivers/virtio $modules/kernel/drivers/char/virtio_console.ko $modules/kernel/fs/9p
$modules/kernel/fs/overlayfs $modules/kernel/fs/netfs $modules/kernel/fs/fscache $modules/kernel/fs/configfs
$modules/kernel/net/9p"
if [ "$(cat "$kernel/ready" 2>/dev/null)" != "$KERNEL_PARTS" ]; then
    rm -rf "$kernel"
    mkdir -p "$kernel"
    # shellcheck disable=SC2086  # each part a pattern of its own
    dpkg-deb --fsys-tarfile "$kernel_deb" | tar -x -C "$kernel" --wildcards $KERNEL_PARTS
    "$busybox" depmod -b "$kernel" "$kernel_release"
    echo "$KERNEL_PARTS" >"$kernel/ready"
fi
say "kernel $kernel_package ready in $(($(date +%s) - started))s"

# udev for the guest: unpacked here and copied into the guest's throwaway
# root there, rather than installed on this machine, where installing it
# starts its daemon on the machine's own devices.
udev=$vm/udev
if [ ! -f "$udev/ready" ]; then
    udev_deb=$(download udev) || die "the udev package could not be downloaded (see $vm/downloads/udev.log); run apt-get update and try again"
    rm -rf "$udev"
    mkdir -p "$udev"
    dpkg-deb -x "$udev_deb" "$udev"
    touch "$udev/ready"
fi

# The first init: busybox and the modules that mount the root.
initramfs=$vm/initramfs
rm -rf "$initramfs"
mkdir -p "$initramfs/bin" "$initramfs/proc" "$initramfs/sys" "$initramfs/dev"
cp "$busybox" "$initramfs/bin/busybox"
for applet in sh mount modprobe mkdir switch_root poweroff; do
    ln -s busybox "$initramfs/bin/$applet"
done
for module in virtio_pci 9pnet_virtio 9p overlay; do
    for file in $(sed -n "s|^\([^:]*/$module\.ko\):\(.*\)|\1\2|p" "$kernel/lib/modules/$kernel_release/modules.dep"); do
        mkdir -p "$initramfs/lib/modules/$kernel_release/$(dirname "$file")"
        cp "$kernel/lib/modules/$kernel_release/$file" "$initramfs/lib/modules/$kernel_release/$file"
    done
done
"$busybox" depmod -b "$initramfs" "$kernel_release"
cp tests/vm/init.sh "$initramfs/init"
chmod 755 "$initramfs/init"
(cd "$initramfs" && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$vm/initramfs.cpio.gz"

# The root Wine runs from in the guest, and what runs a command in it here
# as root: this machine itself, or scripts/debian13.sh.
case $run in
wine8)
    wine_root=/
    runner=""
    ;;
wine10)
    wine_root=$(scripts/debian13.sh --root 2>"$vm/debian13.log" | tail -n 1)
    [ -d "$wine_root/usr/lib/wine" ] ||
        die "the Debian 13 root could not be made (see $vm/debian13.log and scripts/debian13.sh)"
    runner=scripts/debian13.sh
    ;;
esac

# The user who runs the programs in the guest: not root, and nobody on this
# machine. Its prefix is made here, under its id, and set up as
# scripts/run.sh sets up a user's, again whenever scripts/lib/wine.sh says
# it is not this Wine's; the guest's writes to it stay in the guest. It is
# made with only the 64-bit half of Wine in sight: the programs are 64-bit,
# and the 32-bit half takes minutes to make where the kernel can't run
# 32-bit code. The Wine found there, in the root it runs from, is the one
# the guest runs: the run's name chooses it, not WINE.
user=lampuser
uid=4242
state=$vm/$run
home=$state/user
prefix=$home/prefix
mkdir -p "$home"
chown "$uid:$uid" "$home"
setpriv --reuid="$uid" --regid="$uid" --clear-groups test -r "$project/scripts/lib/wine.sh" ||
    die "other users can't read $project, from which the guest's user runs the programs;" \
        "let them (chmod o+rx on it and the folders above it)"
set_up=$(date +%s)
rm -f "$home/wine-found"
# The 32-bit loader is hidden in a mount namespace of this command's,
# which debian13.sh's namespace starts from.
# shellcheck disable=SC2016  # expanded by the inner shells
unshare --mount --propagation private sh -c '
    loader=$1/usr/lib/wine/wine runner=$2
    shift 2
    [ ! -e "$loader" ] || mount --bind /dev/null "$loader"
    exec $runner "$@"
' sh "$wine_root" "$runner" setpriv --reuid="$uid" --regid="$uid" --clear-groups \
    env -u WINE -u WINESERVER HOME="$home" WINEPREFIX="$prefix" DISPLAY= \
    sh -c '. scripts/wine-tool.sh && wine_find && setup_prefix "$1" virtual &&
        printf "wine64=%s\nwineserver=%s\n" "$wine64" "$wineserver" >"$1/wine-found"' \
    vm-setup "$home" >"$state/setup.log" 2>&1 || true
[ -f "$home/wine-found" ] ||
    die "setting the guest's Wine prefix up failed; see $state/setup.log and the logs in $home"
# Debian's Wine names the server's folder under /tmp in the prefix; the
# guest makes its own.
server=$(cat "$prefix/wineserver" 2>/dev/null || true)
case $server in
*/* | *..*) ;;
wine-?*) rm -rf "/tmp/$server" ;;
esac
say "the guest's Wine prefix set up in $(($(date +%s) - set_up))s"

native=$project/build/native
real=$project/build/windows-x64/tests/real
firmware=$project/build/firmware-rp2040/tolvaren-lamp.uf2
for built in "$native/tests/vm/kernel-lamp" "$native/tests/vm/vm-link" "$real/kernel_lamp_test.exe" \
    "$real/tolvaren.exe" "$real/tolvaren-send.exe" "$real/tolvaren-vis.exe" "$firmware"; do
    [ -f "$built" ] || die "$built is missing; build the native, windows-x64 and firmware-rp2040 presets first" \
        "(cmake --preset native && cmake --build --preset native, the same for the others)"
done
firmware/emulator/install.sh || die "rp2040js, the emulator of the lamps' chip, could not be installed (above)"

# The lamps of the project's own firmware, named after the boards a
# builder would use: a name, the USB/IP bus id the emulator exports it as,
# and its flash chip's unique id, which the firmware reads through the
# (stand-in) boot ROM and gives as its serial.
FIRMWARE_LAMPS="pico=1-1=E660583883724A01 zero=1-2=E660583883724A02"

out=$state/out
rm -rf "$out"
mkdir -p "$out"
cat >"$out/settings.sh" <<SETTINGS
run=$run
project=$project
kernel_release=$kernel_release
kernel_modules=$kernel/lib/modules/$kernel_release
udev_tree=$udev
user=$user
uid=$uid
wine_root=$wine_root
prefix=$prefix
$(cat "$home/wine-found")
kernel_lamp=$native/tests/vm/kernel-lamp
vm_link=$native/tests/vm/vm-link
firmware_lamps="$FIRMWARE_LAMPS"
real=$real
checks=${TOLVAREN_VM_CHECKS:-$project/tests/vm/checks.sh}
SETTINGS

# The emulated lamps run here, at this machine's full speed, not in the
# guest, where TCG would slow the emulator many times over. They wait on a
# Unix socket (its path short enough for one) that QEMU's virtio-serial
# port connects to; in the guest, vm-link carries usbip's connections on
# the guest's loopback over that port.
link_folder=$(mktemp -d /tmp/tolvaren-link.XXXXXX)
link=$link_folder/link.sock
# shellcheck disable=SC2086  # a lamp each
node tests/vm/emulated_lamps.mjs "$firmware" "$link" $FIRMWARE_LAMPS >"$out/emulated-lamps.log" 2>&1 &
lamps_pid=$!
if ! wait_for --while $lamps_pid 30 "the emulated lamps" test -S "$link"; then
    cat "$out/emulated-lamps.log" >&2
    rm -rf "$link_folder"
    die "the emulated lamps did not start (above)"
fi

say "starting the guest ($run); its console follows"
booted=$(date +%s)
timeout --kill-after=10 "$TIMEOUT_SECONDS" qemu-system-x86_64 \
    -accel tcg,thread=multi -cpu max,-smap -m 2G -smp 2 -nographic -no-reboot -nic none \
    -kernel "$kernel/boot/vmlinuz-$kernel_release" -initrd "$vm/initramfs.cpio.gz" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 tolvaren.project=$project" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$out,mount_tag=results,security_model=none,multidevs=remap" \
    -device virtio-serial-pci -chardev "socket,id=lamps,path=$link" \
    -device virtserialport,chardev=lamps,name=tolvaren.lamps \
    </dev/null >"$out/console.raw" 2>&1 &
qemu=$!
# The console without its line ends' CRs and the firmware's terminal codes.
plain() { sed 's/\r$//; s/\x1bc//g; s/\x1b\[[0-9;?]*[A-Za-z]//g'; }
tail -f "$out/console.raw" --pid=$qemu 2>/dev/null | plain &
shown=$!
code=0
wait $qemu || code=$?
wait $shown || true
plain <"$out/console.raw" >"$out/console.log"
say "the guest ran for $(($(date +%s) - booted))s"
# The emulated lamps end with the guest, and say what the emulator took.
wait_for --while $lamps_pid 10 "the emulated lamps to end" false || true
kill $lamps_pid 2>/dev/null || true
rm -rf "$link_folder"
cat "$out/emulated-lamps.log"
case $code in
124 | 137) die "the guest did not finish within ${TIMEOUT_SECONDS}s and was stopped; see $out/console.log" ;;
esac
[ -f "$out/status" ] || die "the guest stopped before its checks were done (qemu exit code $code); see $out/console.log"
failed=$(cat "$out/status")
[ "$failed" = 0 ] || die "$failed check(s) failed in the guest under $run; see above, and $out"
say "every check passed in the guest under $run"
