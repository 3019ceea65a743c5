#!/bin/sh
# shellcheck disable=SC2154  # the settings come from settings.sh, which run.sh writes
# The guest's init once its root is up (tests/vm/init.sh hands over): sets
# the machine up as a Linux desktop with a lamp would be, for
# tests/vm/checks.sh, runs that, leaves its output and exit code in the
# results share and powers off. The settings come from run.sh, in the
# share's settings.sh. Runs as PID 1: nothing here may exit early.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
results=/run/results

stop() {
    sync
    busybox poweroff -f
}
note() { echo "vm guest: $*"; }

if ! mkdir -p /mnt/results ||
    ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /mnt/results; then
    note "the results share did not mount; nothing can be reported"
    stop
fi
# shellcheck source=/dev/null
. /mnt/results/settings.sh
# Only functions: nothing in it exits.
# shellcheck source=scripts/lib/wine.sh
. "$project/scripts/lib/wine.sh"

# The host's /run and /tmp show through the overlay; the guest gets empty
# ones, so that no socket or lock file of the host's misleads it. A project
# (or a Debian 13 root) that lies in one of them is held aside and put back.
held=""
for place in "$project" "$wine_root"; do
    case $place in
    /tmp/* | /run/*)
        keep=/mnt/held$(printf '%s' "$place" | tr '/' '_')
        mkdir -p "$keep" && mount --bind "$place" "$keep" && held="$held $place:$keep"
        ;;
    esac
done
mount -t tmpfs -o mode=0755 tmpfs /run
mount -t tmpfs -o mode=1777 tmpfs /tmp
for pair in $held; do
    mkdir -p "${pair%%:*}" && mount --bind "${pair#*:}" "${pair%%:*}"
done
mkdir -p /dev/pts /dev/shm "$results"
mount -t devpts -o gid=5,mode=0620,ptmxmode=0666 devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mount --move /mnt/results "$results"
roots=/
[ "$wine_root" = / ] || roots="/ $wine_root"

setup() {
    # The kernel's modules come from the kernel package run.sh unpacked.
    mkdir -p "/lib/modules/$kernel_release" &&
        mount --bind "$kernel_modules" "/lib/modules/$kernel_release" || return 1
    busybox modprobe configfs && mount -t configfs configfs /sys/kernel/config || return 1
    # Two UDCs: two gadget lamps can be plugged in at once.
    busybox modprobe dummy_hcd num=2 || return 1
    # vhci-hcd takes the lamps attached over USB/IP; virtio_console makes
    # the port of the link to the host, where their emulator runs.
    for module in libcomposite usb_f_hid usbhid hid-generic uhid vhci-hcd virtio_console; do
        busybox modprobe "$module" || { note "the module $module did not load"; return 1; }
    done
    # usbip's connections stay on the guest's own loopback.
    ip link set lo up || return 1

    # udev, from the package run.sh unpacked, as a desktop has it: it gives
    # the lamp's node the access its rule says, and Wine learns of devices
    # coming and going from it.
    tar -C "$udev_tree" -cf - . | tar -C / -xf - --keep-directory-symlink || return 1
    /lib/systemd/systemd-udevd --daemon || return 1
    udevadm trigger --action=add && udevadm settle || return 1

    # The user, not in plugdev yet, in the guest's root and in the root Wine
    # runs from.
    for root in $roots; do
        echo "$user:x:$uid:$uid::/home/$user:/bin/sh" >>"$root/etc/passwd"
        echo "$user:x:$uid:" >>"$root/etc/group"
        mkdir -p "$root/home/$user"
        chown "$uid:$uid" "$root/home/$user"
    done
    if [ "$wine_root" != / ]; then
        for place in proc sys dev tmp run/udev "$project"; do mkdir -p "$wine_root/$place"; done
        mount -t proc proc "$wine_root/proc" && mount --rbind /sys "$wine_root/sys" &&
            mount --rbind /dev "$wine_root/dev" && mount --bind /tmp "$wine_root/tmp" &&
            mount --bind /run/udev "$wine_root/run/udev" && mount --bind "$project" "$wine_root$project" ||
            return 1
    fi

    # A display the user may draw on (-ac), which checks.sh's programs get
    # from DISPLAY.
    display_start "$results/xvfb.log" -ac
}

if setup; then
    note "set up in $(cut -d' ' -f1 /proc/uptime)s since boot"
    # Straight to the console, which run.sh keeps: a pipe would wait for
    # every process the checks leave running.
    sh "$checks" </dev/null >/dev/console 2>&1
    echo $? >"$results/status"
else
    note "setting the guest up failed (above)"
fi
stop
