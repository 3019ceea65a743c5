#!/bin/sh
# The guest's first init, in its initramfs (busybox sh): mounts the host's
# root read-only over 9p with a tmpfs overlay on top, so that the guest can
# change anything and the host sees none of it, and hands over to
# tests/vm/guest.sh of the project in that root.
# The kernel command line names the project folder (tolvaren.project=).
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

fail() {
    echo "vm init: $*; the guest stops here" >/dev/console
    poweroff -f
}

project=""
read -r cmdline </proc/cmdline
for word in $cmdline; do
    case $word in tolvaren.project=*) project=${word#*=} ;; esac
done
[ -n "$project" ] || fail "no tolvaren.project= on the kernel command line"

for module in virtio_pci 9pnet_virtio 9p overlay; do
    modprobe "$module" || fail "the module $module did not load"
done

mkdir -p /host /rw /newroot
# A large msize and the page cache make reading through 9p several times
# faster; the host's root does not change under a run that matters to it.
mount -t 9p -o ro,trans=virtio,version=9p2000.L,msize=512000,cache=loose hostroot /host ||
    fail "the host's root (9p tag hostroot) did not mount"
mount -t tmpfs -o mode=0755 tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /newroot ||
    fail "the overlay on the host's root did not mount"
# The tmpfs stays reachable below the new root for nothing else; move the
# kernel's own file systems along.
mount --move /proc /newroot/proc
mount --move /sys /newroot/sys
mount --move /dev /newroot/dev
[ -f "/newroot$project/tests/vm/guest.sh" ] || fail "no $project/tests/vm/guest.sh in the host's root"
exec switch_root /newroot /bin/sh "$project/tests/vm/guest.sh"
