#!/bin/sh
# Fetches the Pico SDK and TinyUSB that the lamp's firmware builds on:
# Debian 13's source packages, pinned by version and SHA-256, downloaded
# with apt-get from Debian's archive once and unpacked into DIR (build/pico-sdk
# unless given). Does nothing when the pinned versions are already unpacked
# there. This machine's own apt sources and state are left alone: apt runs
# with a configuration of its own under DIR/apt. Prints the SDK's folder as
# its last line.
#   firmware/fetch-sdk.sh [DIR]
# TOLVAREN_DEBIAN_MIRROR names another Debian mirror.
set -eu
cd "$(dirname "$0")/.."
mkdir -p "${1:-build/pico-sdk}"
cache=$(cd "${1:-build/pico-sdk}" && pwd)
mirror=${TOLVAREN_DEBIAN_MIRROR:-http://deb.debian.org/debian}

# The packages, their versions in trixie and the SHA-256 of their .debs.
# In the SDK, lib/tinyusb is a link to ../../tinyusb: both go into one root.
PACKAGES="pico-sdk-source=2.1.1-1=507a3ca37636641bc90239d7c04dc9dc28c5008087a8162102ea94d2273153d3
tinyusb-source=0.18.0+dfsg-1=01ce2c645df68f14a8a7dcfc8fb355713152543757955820479a87949a61154e"
root=$cache/root
sdk=$root/usr/src/pico-sdk

say() { echo "fetch-sdk: $*"; }
die() {
    echo "fetch-sdk: $*" >&2
    exit 1
}

wanted=$(echo "$PACKAGES" | cut -d= -f1,2)
if [ -f "$root/ready" ] && [ "$(cat "$root/ready")" = "$wanted" ]; then
    echo "$sdk"
    exit 0
fi
for tool in apt-get dpkg-deb sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || die "$tool is missing; this needs Debian's apt and dpkg"
done

# apt with a state of its own: trixie's main component, for this machine's
# architecture (the packages are architecture-independent), signed by the
# keys that Debian 12's debian-archive-keyring holds for trixie.
apt=$cache/apt
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts" "$cache/downloads"
echo "deb [arch=$(dpkg --print-architecture) signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror trixie main" \
    >"$apt/sources.list"
: >"$apt/status"
sandbox=""
[ "$(id -u)" -ne 0 ] || sandbox="-o APT::Sandbox::User=root"
private_apt() {
    # shellcheck disable=SC2086
    "$@" -q -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts="$apt/parts" \
        -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts="$apt/parts" \
        -o Dir::State="$apt" -o Dir::State::Lists="$apt/lists" -o Dir::State::status="$apt/status" \
        -o Dir::Cache="$apt/cache" -o Acquire::Languages=none $sandbox
}

# deb NAME VERSION SHA256: the package's .deb in the download cache, fetched
# when it is not there yet or not the pinned one.
updated=""
deb() {
    file=$cache/downloads/${1}_${2}_all.deb
    if [ -f "$file" ] && [ "$(sha256sum "$file" | cut -d' ' -f1)" = "$3" ]; then
        echo "$file"
        return 0
    fi
    if [ -z "$updated" ]; then
        private_apt apt-get update >"$cache/apt-update.log" 2>&1 ||
            die "apt-get update for trixie failed (see $cache/apt-update.log); check that $mirror answers," \
                "or set TOLVAREN_DEBIAN_MIRROR to a Debian mirror that does"
        updated=yes
    fi
    (cd "$cache/downloads" && private_apt apt-get download "$1=$2") >"$cache/download-$1.log" 2>&1 ||
        die "$1 $2 could not be downloaded (see $cache/download-$1.log); if trixie no longer has this" \
            "version, pin the one it has in firmware/fetch-sdk.sh (PACKAGES)"
    [ "$(sha256sum "$file" | cut -d' ' -f1)" = "$3" ] ||
        die "$file is not the pinned $1 $2: its SHA-256 differs from firmware/fetch-sdk.sh's"
    echo "$file"
}

started=$(date +%s)
rm -rf "$root"
mkdir -p "$root"
for entry in $PACKAGES; do
    name=${entry%%=*}
    rest=${entry#*=}
    file=$(deb "$name" "${rest%%=*}" "${rest#*=}") || exit 1
    dpkg-deb -x "$file" "$root"
done
[ -f "$sdk/pico_sdk_init.cmake" ] && [ -f "$sdk/lib/tinyusb/src/tusb.h" ] ||
    die "the unpacked packages hold no Pico SDK with TinyUSB in $sdk"
echo "$wanted" >"$root/ready"
say "pico-sdk-source and tinyusb-source ready in $root in $(($(date +%s) - started))s"
echo "$sdk"
