#!/bin/sh
# shellcheck disable=SC2154  # the settings come from settings.sh, which run.sh writes
# The kernel lamp checks, run as root in the guest of tests/vm/run.sh once
# guest.sh has set it up (udevd running, an unprivileged user, a display).
# Lamps are kernel-lamp processes (tests/vm/kernel_lamp.cpp): USB gadgets
# on dummy_hcd, the main road, and uhid devices. As the user:
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
as_user "$wineserver" -k
exit $failures
