#!/bin/sh
# shellcheck disable=SC2154  # the settings come from settings.sh, which run.sh writes
# The kernel lamp checks, run as root in the guest of tests/vm/run.sh once
# guest.sh has set it up (udevd running, an unprivileged user, a display).
# Lamps are kernel-lamp processes (tests/vm/kernel_lamp.cpp): USB gadgets
# on dummy_hcd, the main road, and uhid devices; and lamps of the project's
# own firmware, emulated on the host and attached here with usbip over the
# link to it (tests/vm/vm_link.cpp), so that the road ends at their pins.
# As the user:
#  - scripts/hidraw-lamp.sh finds the lamp on the kernel's own sysfs, says
#    the user can't open it and prints the udev rule; with exactly that rule
#    installed as it says, and the user in plugdev, the user can;
#  - under Wine, in a prefix set up as scripts/run.sh sets up a user's,
#    the program finds the lamp and sends it each report, as
#    kernel_lamp_test.exe checks (its suites, one per set of lamps).
# Exit code: the number of failed checks.
set -u
results=/run/results
# shellcheck source=/dev/null
. /run/results/settings.sh
# shellcheck source=scripts/lib/wine.sh
. "$project/scripts/lib/wine.sh"
lamps=/tmp/lamps
mkdir -p "$lamps"
chown "$uid:$uid" "$lamps"
failures=0

pass() { echo "ok: $*"; }
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
now() { cut -d' ' -f1 /proc/uptime; }

# as_user CMD...: CMD as the user, logged in afresh (so with the groups it
# has now), from the root Wine runs from, with Wine's settings.
as_user() {
    chroot "$wine_root" setpriv --reuid="$uid" --regid="$uid" --init-groups \
        env -i HOME="/home/$user" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" \
        WINEPREFIX="$prefix" WINEDEBUG=-all TOLVAREN_VM_LAMPS="$lamps" "$@"
}

# The hidraw node of the lamp with this serial number, if it is there.
node_of() {
    for uevent in /sys/class/hidraw/*/device/uevent; do
        if grep -qx "HID_UNIQ=$1" "$uevent" 2>/dev/null; then
            echo "/dev/$(basename "$(dirname "$(dirname "$uevent")")")"
            return 0
        fi
    done
    return 1
}

# plug KIND NAME: a lamp with the default ids and NAME for its serial
# number, logging to NAME.log, refusing reports while NAME.refuse is there
# and gone when NAME.remove appears.
plug() {
    kind=$1 name=$2
    rm -f "$lamps/$name.log" "$lamps/$name.remove"
    "$kernel_lamp" "$kind" --serial "$name" --log "$lamps/$name.log" --refuse-when "$lamps/$name.refuse" \
        --remove-when "$lamps/$name.remove" 2>>"$lamps/$name.err" &
    if ! wait_for --while $! 30 "the $kind lamp $name to be made" grep -qs '^created' "$lamps/$name.log"; then
        fail "the $kind lamp $name did not come: $(cat "$lamps/$name.err" 2>/dev/null)"
        return 1
    fi
    wait_for 30 "the hidraw node of the $kind lamp $name" node_of "$name" >/dev/null ||
        { fail "the $kind lamp $name got no hidraw node"; return 1; }
    udevadm settle
}

unplug() {
    touch "$lamps/$1.remove"
    wait_for 30 "the lamp $1 to go away" grep -qsx removed "$lamps/$1.log" ||
        { fail "the lamp $1 did not go away"; return 1; }
    udevadm settle
}

# drive SUITE: kernel_lamp_test.exe's tests of that suite, under Wine.
drive() {
    started=$(now)
    if as_user "$wine64" "$real/kernel_lamp_test.exe" --gtest_filter="$1.*" >"$results/$1.log" 2>&1; then
        took=$(now | awk -v s="$started" '{printf "%.0f", $1 - s}')
        tests=$(tr -d '\r' <"$results/$1.log" | sed -n 's/^\[==========\] .* ran\. (\([0-9]*\) ms total)$/\1/p')
        pass "$1 under Wine (${took}s, the tests $((${tests:-0} / 1000))s of it)"
        tr -d '\r' <"$results/$1.log" | grep '^figure:' || true
    else
        cat "$results/$1.log"
        fail "$1 under Wine (above)"
    fi
}

echo "== the lamp's node and the udev rule"
plug gadget first || exit 1
node=$(node_of first)
code=0
said=$(as_user sh "$project/scripts/hidraw-lamp.sh") || code=$?
rule_line=$(printf '%s\n' "$said" | sed -n "s/^  echo '\(.*\)' | sudo tee .*/\1/p")
if [ $code -eq 2 ] && printf '%s\n' "$said" | grep -q "at $node, but $user can't read and" &&
    ! as_user sh -c "exec 3<>$node" 2>/dev/null &&
    [ "$rule_line" = 'SUBSYSTEM=="hidraw", ATTRS{idVendor}=="16c0", ATTRS{idProduct}=="05df", MODE="0660", GROUP="plugdev", TAG+="uaccess"' ]; then
    pass "hidraw-lamp.sh finds $node, which $user can't open, and prints the rule"
else
    fail "hidraw-lamp.sh as $user without access: exit code $code, said: $said"
fi
# Its commands, as it prints them; sudo is what root needs none of.
printf '%s\n' "$said" | sed -n 's/^  \(echo .*\|sudo .*\)$/\1/p' >"$results/rule-commands.sh"
(
    # shellcheck disable=SC2317  # it is called, by the commands sourced
    sudo() { "$@"; }
    # shellcheck source=/dev/null
    . "$results/rule-commands.sh" >/dev/null
) || fail "installing the rule as hidraw-lamp.sh says"
[ "$(cat /etc/udev/rules.d/70-tolvaren-lamp.rules 2>/dev/null)" = "$rule_line" ] ||
    fail "the installed rule is not the one printed"
udevadm settle
# As it advises a user who is not at the machine's seat.
chroot / usermod -aG plugdev "$user"
[ "$wine_root" = / ] || chroot "$wine_root" usermod -aG plugdev "$user"
code=0
said=$(as_user sh "$project/scripts/hidraw-lamp.sh") || code=$?
if [ $code -eq 0 ] && [ "$said" = "hidraw-lamp.sh: the lamp 16C0:05DF is at $node, and Wine can open it." ] &&
    as_user sh -c "exec 3<>$node"; then
    pass "with the rule $user can open $node, and hidraw-lamp.sh says so"
else
    fail "hidraw-lamp.sh as $user with the rule: exit code $code, said: $said; $(ls -l "$node")"
fi

echo "== under $run"
as_user "$wineserver" -p
plug gadget second
drive GadgetLamps
unplug second
# A uhid lamp has no USB device above its node, by whose ids the lamp's
# rule goes: it gets the same access by a rule of its own.
echo 'SUBSYSTEM=="hidraw", KERNELS=="uhid", MODE="0660", GROUP="plugdev"' >/etc/udev/rules.d/71-uhid-lamps.rules
udevadm control --reload-rules
plug uhid uhid && drive UhidLamp && unplug uhid
touch "$lamps/refusing.refuse"
plug gadget refusing && drive RefusingGadget && unplug refusing

echo "== the lamp's firmware, emulated on the host, attached over USB/IP"
# The port of the link to the host, as the guest's kernel names it.
link_port() {
    for name in /sys/class/virtio-ports/*/name; do
        [ "$(cat "$name" 2>/dev/null)" = tolvaren.lamps ] && echo "/dev/$(basename "$(dirname "$name")")" && return 0
    done
    return 1
}

# The vhci port a lamp of this USB/IP bus id is attached to, as usbip port
# tells it.
vhci_port_of() {
    usbip port 2>/dev/null | awk -v busid="$1" '/^Port [0-9]+:/ { port = $2 + 0 }
        $0 ~ "usbip://127.0.0.1:3240/" busid "$" { print port; exit }'
}

# attach NAME BUSID SERIAL: as a user attaches a lamp shared with usbip;
# it is there when its hidraw node is. Detached when NAME.remove appears.
attach() {
    rm -f "$lamps/$1.log" "$lamps/$1.remove"
    if ! usbip attach -r 127.0.0.1 -b "$2" >"$results/attach-$1.log" 2>&1; then
        fail "usbip attach of $1 ($2): $(cat "$results/attach-$1.log")"
        return 1
    fi
    if ! wait_for 60 "the hidraw node of the lamp $1" node_of "$3" >/dev/null; then
        fail "the lamp $1 ($2) got no hidraw node; the kernel said: $(dmesg | tail -n 20)"
        return 1
    fi
    udevadm settle
    echo "$3" >"$lamps/$1.serial"
    (
        wait_for 600 "a request to detach $1" test -e "$lamps/$1.remove" 2>/dev/null || exit 0
        usbip detach -p "$(vhci_port_of "$2")" >"$results/detach-$1.log" 2>&1
    ) &
}

firmware_lamps() {
    port=$(link_port) || { fail "the guest has no port tolvaren.lamps of the link to the host"; return 1; }
    "$vm_link" "$port" 3240 "$lamps" >"$results/vm-link.log" 2>&1 &
    wait_for 30 "the link to listen" grep -qs '^listening' "$results/vm-link.log" ||
        { fail "vm-link did not start: $(cat "$results/vm-link.log")"; return 1; }
    listed=$(usbip list -r 127.0.0.1 2>&1)
    for lamp in $firmware_lamps; do
        busid=${lamp#*=}
        busid=${busid%%=*}
        printf '%s\n' "$listed" | grep -q "^ *$busid: .*(16c0:05df)$" ||
            { fail "usbip list -r 127.0.0.1 shows no lamp $busid: $listed"; return 1; }
    done
    pass "usbip list shows the emulated lamps: $(printf '%s\n' "$listed" | grep -c '(16c0:05df)$')"
    # The project's own rule, as a user installs it from the release.
    if ! cp "$project/release/70-tolvaren-lamp.rules" /etc/udev/rules.d/70-tolvaren-lamp.rules ||
        ! udevadm control --reload-rules; then
        fail "installing release/70-tolvaren-lamp.rules"
        return 1
    fi
    # A short tune for tolvaren-vis: notes of the bass, the treble and the
    # middle, each followed by a rest.
    for note in 60 8000 1000; do
        sox -n -r 44100 -c 2 -b 16 "$lamps/note-$note.wav" synth 0.4 sine "$note" vol 0.5 pad 0 0.3 || return 1
    done
    sox "$lamps/note-60.wav" "$lamps/note-8000.wav" "$lamps/note-1000.wav" "$lamps/tune.wav" || return 1
    # shellcheck disable=SC2086  # a lamp each
    set -- $firmware_lamps
    first=$1 second=$2
    attach "${first%%=*}" "$(echo "$first" | cut -d= -f2)" "${first##*=}" && drive FirmwareLamp &&
        attach "${second%%=*}" "$(echo "$second" | cut -d= -f2)" "${second##*=}" && drive FirmwareLamps
    for lamp in $firmware_lamps; do
        port=$(vhci_port_of "$(echo "$lamp" | cut -d= -f2)")
        [ -z "$port" ] || usbip detach -p "$port" >/dev/null 2>&1
        cp "$lamps/${lamp%%=*}.log" "$results/firmware-${lamp%%=*}.log" 2>/dev/null
    done
    dmesg >"$results/dmesg.log"
}
firmware_lamps
as_user "$wineserver" -k
exit $failures
