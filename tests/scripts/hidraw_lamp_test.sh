#!/bin/sh
# scripts/hidraw-lamp.sh against made-up sysfs and /dev trees: which hidraw
# node it takes for the lamp, how it reads tolvaren's -v and -p, and what it
# tells a user who can't open the node. Run as root, the checks of access
# run as the user nobody, for whom the permissions count.
#   hidraw_lamp_test.sh SCRIPT
set -eu
script=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d /tmp/hidraw-lamp-test.XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
failures=0

# node DIR NAME HID_ID MODE: a hidraw node with these ids in tree DIR.
node() {
    mkdir -p "$1/sys/class/hidraw/$2/device" "$1/dev"
    printf 'DRIVER=hid-generic\nHID_ID=%s\nHID_NAME=Some Device\n' "$3" >"$1/sys/class/hidraw/$2/device/uevent"
    : >"$1/dev/$2"
    chmod "$4" "$1/dev/$2"
    chmod -R a+rX "$1/sys"
    chmod a+rx "$1" "$1/dev"
}

as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else
        "$@"
    fi
}

# check TREE WANT_CODE WANT_TEXT [OPTIONS...]
check() {
    tree=$1 want_code=$2 want_text=$3
    shift 3
    code=0
    output=$(TOLVAREN_SYSFS="$work/$tree/sys" TOLVAREN_DEV="$work/$tree/dev" as_user sh "$script" "$@") || code=$?
    case $output in
    *"$want_text"*) text_ok=yes ;;
    *) text_ok=no ;;
    esac
    if [ "$code" != "$want_code" ] || [ $text_ok = no ]; then
        echo "FAILED: $tree $*: exit code $code (want $want_code), output:" >&2
        echo "$output" >&2
        echo "  (want it to contain: $want_text)" >&2
        failures=$((failures + 1))
    else
        echo "ok: $tree $*"
    fi
}

# A mouse and a usable lamp; a lamp whose node only root may open; a
# vendor id of two digits on Bluetooth, written in lower case.
node "$work/usable" hidraw0 0003:0000046D:0000C52B 0666
node "$work/usable" hidraw1 0003:000016C0:000005DF 0666
node "$work/locked" hidraw0 0003:000016C0:000005DF 0600
node "$work/locked" hidraw4 0003:000016C0:000005DF 0600
node "$work/short" hidraw2 0005:0000001f:000005df 0666
mkdir -p "$work/empty/sys/class/hidraw" "$work/empty/dev"
chmod -R a+rX "$work/empty"

check usable 0 "$work/usable/dev/hidraw1, and Wine can open it"
check usable 0 "16C0:05DF" -v16c0 -p05DF
check usable 0 "16C0:05DF" /v16C0 unrelated -x1234
check usable 1 "no lamp 1234:5678 is plugged in" -v1234 -p5678
check usable 1 "no lamp 046D:05DF" -v046dc52b
check usable 0 "16C0:05DF" -v -pzz
check empty 1 "no lamp 16C0:05DF"
check short 0 "001F:05DF is at $work/short/dev/hidraw2" -v0x1F
check short 0 "001F:05DF" "-v 1f"
check locked 2 "ATTRS{idVendor}==\"16c0\", ATTRS{idProduct}==\"05df\""
check locked 2 "$work/locked/dev/hidraw0 $work/locked/dev/hidraw4, but"
check locked 2 "sudo udevadm control --reload-rules"
# The rule is the one the release ships, with the ids asked for.
shipped=$(sed -n '/^SUBSYSTEM==/p' "$(dirname "$script")/../release/70-tolvaren-lamp.rules")
check locked 2 "  echo '$shipped' | sudo tee /etc/udev/rules.d/70-tolvaren-lamp.rules"
node "$work/locked" hidraw5 0003:00001234:0000ABCD 0600
check locked 2 "$(echo "$shipped" | sed 's/16c0/1234/; s/05df/abcd/')" -v1234 -pABCD

[ $failures -eq 0 ] || { echo "$failures case(s) failed" >&2; exit 1; }
