#!/bin/sh
# Prints the lamp ids that tolvaren takes from these options, as two
# four-digit upper-case hexadecimal numbers: "16C0 05DF" unless -vXXXX or
# -pXXXX (or /v, /p) give others. Other options are passed over.
#   scripts/lamp-ids.sh [PROGRAM OPTIONS...]
# tolvaren reads the first four characters after the letter: leading blanks
# skipped, an optional sign and "0x", then hexadecimal digits up to the
# first other character; an option that reads nothing leaves the id alone.
set -eu

hex_id() {
    text=$(printf '%s' "$1" | cut -c1-4)
    text=${text#"${text%%[! ]*}"}
    sign=""
    case $text in [-+]*) sign=${text%"${text#?}"}; text=${text#?} ;; esac
    case $text in 0[xX]*) text=${text#??} ;; esac
    digits=$(printf '%s' "$text" | sed 's/[^0-9A-Fa-f].*//')
    [ -n "$digits" ] || return 1
    value=$((0x$digits))
    [ "$sign" = "-" ] && value=$((-value))
    printf '%04X' $((value & 0xFFFF))
}

# tolvaren's own ids, as lamps/lamp_identity.h gives them.
identity="$(dirname "$0")/../lamps/lamp_identity.h"
vid=$(sed -n 's/^#define LAMP_VENDOR_ID 0x\([0-9A-Fa-f]\{4\}\)$/\1/p' "$identity")
pid=$(sed -n 's/^#define LAMP_PRODUCT_ID 0x\([0-9A-Fa-f]\{4\}\)$/\1/p' "$identity")
if [ -z "$vid" ] || [ -z "$pid" ]; then
    echo "lamp-ids.sh: $identity gives no LAMP_VENDOR_ID or LAMP_PRODUCT_ID of four hex digits" >&2
    exit 2
fi
for option in "$@"; do
    case $option in
    [-/]v*) id=$(hex_id "${option#??}") && vid=$id ;;
    [-/]p*) id=$(hex_id "${option#??}") && pid=$id ;;
    esac
done
echo "$vid $pid"
