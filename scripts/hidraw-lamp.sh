#!/bin/sh
# Looks for the lamp among Linux's hidraw devices before tolvaren starts
# under Wine, which passes a hidraw device to Windows programs only when it
# can open it for reading and writing. Says what it found; where the lamp is
# there but this user can't use it, prints the udev rule that fixes that and
# how to install it: the rule of release/70-tolvaren-lamp.rules, the file
# the release carries, with the lamp's ids.
#   scripts/hidraw-lamp.sh [PROGRAM OPTIONS...]    e.g. -v16c0 -p05df
# The options are tolvaren's own: -vXXXX and -pXXXX (or /v, /p) choose the
# ids, 16C0 and 05DF unless given. Exit code: 0 the lamp is there and
# usable, 1 no such lamp, 2 there but not readable and writable.
# TOLVAREN_SYSFS and TOLVAREN_DEV stand in for /sys and /dev (for tests).
set -eu
sysfs=${TOLVAREN_SYSFS:-/sys}
dev=${TOLVAREN_DEV:-/dev}

ids=$("$(dirname "$0")/lamp-ids.sh" "$@")
vid=${ids% *}
pid=${ids#* }
lower_vid=$(echo "$vid" | tr 'A-F' 'a-f')
lower_pid=$(echo "$pid" | tr 'A-F' 'a-f')
rules_file=$(dirname "$0")/../release/70-tolvaren-lamp.rules
rule=$(sed -n 's/^\(SUBSYSTEM=="hidraw",.*\)$/\1/p' "$rules_file" |
    sed "s/ATTRS{idVendor}==\"[0-9a-f]*\"/ATTRS{idVendor}==\"$lower_vid\"/; s/ATTRS{idProduct}==\"[0-9a-f]*\"/ATTRS{idProduct}==\"$lower_pid\"/")
if [ -z "$rule" ]; then
    echo "hidraw-lamp.sh: $rules_file holds no hidraw rule; take it from a checkout of the project" >&2
    exit 2
fi

found=""
unusable=""
for uevent in "$sysfs"/class/hidraw/*/device/uevent; do
    [ -f "$uevent" ] || continue
    # HID_ID=BUS:VENDOR:PRODUCT, each in upper-case hexadecimal, 8 digits.
    ids=$(sed -n 's/^HID_ID=[0-9A-Fa-f]*:\([0-9A-Fa-f]*\):\([0-9A-Fa-f]*\)$/\1:\2/p' "$uevent" | tr 'a-f' 'A-F')
    [ "$ids" = "0000$vid:0000$pid" ] || continue
    node=$(basename "$(dirname "$(dirname "$uevent")")")
    found="$found $dev/$node"
    if [ ! -r "$dev/$node" ] || [ ! -w "$dev/$node" ]; then unusable="$unusable $dev/$node"; fi
done

if [ -z "$found" ]; then
    echo "hidraw-lamp.sh: no lamp $vid:$pid is plugged in (no hidraw device with these ids);" \
         "tolvaren will say that it found none. Plug it in, or give its ids with -v and -p."
    exit 1
fi
if [ -z "$unusable" ]; then
    echo "hidraw-lamp.sh: the lamp $vid:$pid is at$found, and Wine can open it."
    exit 0
fi
cat <<MESSAGE
hidraw-lamp.sh: the lamp $vid:$pid is at$unusable, but $(id -un) can't read and
write it, so Wine can't pass it to tolvaren (which will say "no HID found").
Let udev give you access to it with this rule, then plug the lamp in again:

  echo '$rule' | sudo tee /etc/udev/rules.d/$(basename "$rules_file")
  sudo udevadm control --reload-rules
  sudo udevadm trigger --subsystem-match=hidraw

TAG+="uaccess" opens it to whoever is logged in at the machine; over ssh,
join the plugdev group instead (sudo usermod -aG plugdev $(id -un), then log
in again).
MESSAGE
exit 2
