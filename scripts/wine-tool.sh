# shellcheck shell=sh
# Sourced by the scripts that run the programs under Wine (run.sh, send.sh,
# vis.sh): building them and the prefix they run in. Wine itself, the
# display, the prefix and the registry come from scripts/lib/wine.sh.
. scripts/lib/wine.sh

# run_prefix: the machine's Wine (wine_find), and WINEPREFIX, the prefix of
# scripts/run.sh for it: each Wine has its own, since a prefix that a newer
# Wine updated is no prefix for an older one. Exits with a message when
# there is no Wine.
run_prefix() {
    wine_find || exit 1
    WINEPREFIX="$PWD/build/run/wine-$wine_version"
    WINEDEBUG=-all
    export WINEPREFIX WINEDEBUG
}

# pick_build ARG: the 64-bit build, or the 32-bit one when ARG is --x86
# (then true, so that the caller shifts it away). Sets preset and wine, the
# Wine that runs that build; exits with a message when it needs a 32-bit
# Wine and there is none.
pick_build() {
    run_prefix
    preset=windows-x64
    wine=$wine64
    [ "$1" = "--x86" ] || return 1
    preset=windows-x86
    wine=$wine32
    if [ -z "$wine" ]; then
        echo "${0##*/}: $wine64 has no 32-bit half for the 32-bit build; install it with" \
             "scripts/install-wine32.sh (as root)" >&2
        exit 1
    fi
}

# build_targets TARGET...: builds them in the preset's tree, quietly, so
# that the output is the programs' alone; exits with a message when that
# fails. In the Debian 13 root (scripts/debian13.sh) there are no compilers:
# debian13.sh built the programs before it came in, so they only need to
# be there.
build_targets() {
    caller=$(basename "$0")
    if [ -n "${TOLVAREN_DEBIAN13:-}" ]; then
        for target in "$@"; do
            if [ ! -f "build/$preset/$target.exe" ] && [ ! -f "build/$preset/tools/$target/$target.exe" ]; then
                echo "$caller: build/$preset has no $target; scripts/debian13.sh builds it before it comes in" >&2
                exit 1
            fi
        done
        return 0
    fi
    if ! log=$( (scripts/install-deps.sh && cmake --preset "$preset" && cmake --build --preset "$preset" --target "$@") 2>&1); then
        echo "$log" >&2
        echo "$caller: building $* failed (above); run scripts/run.sh once to install what is missing" >&2
        exit 1
    fi
}

# prepare_tool TARGET: builds the tool and checks that the prefix of
# scripts/run.sh is there; exits with a message when either fails.
prepare_tool() {
    build_targets "$1"
    if ! wine_prefix_ready; then
        echo "$caller: there is no Wine prefix in $WINEPREFIX yet, so tolvaren is not running;" \
             "start it first with scripts/run.sh" >&2
        exit 2
    fi
}

# setup_prefix FOLDER [VIRTUAL]: makes $WINEPREFIX if it is not there yet
# and sets it up for the programs, as scripts/run.sh sets up a user's;
# VIRTUAL not empty for a virtual display. FOLDER gets the logs and the
# settings file. The guest of the VM tests (tests/vm) sets up its user's
# prefix with this too. Exits with a message when that fails.
setup_prefix() {
    folder=$1
    wine_prefix "$folder/wineboot.log" || exit 1

    # Wine 8's USB bus driver passes Linux's hidraw devices, real lamps
    # among them, to Windows programs only with its SDL backend off (later
    # Wines pass them whatever it is). On a virtual display no window
    # manager draws title bars and frames, so Wine draws them itself
    # (unmanaged windows); on a desktop the window manager does. The bus
    # driver reads its setting when it starts: Wine ends after.
    sdl='"Enable SDL"=-'
    [ "$wine_major" -ge 9 ] || sdl='"Enable SDL"=dword:00000000'
    managed='"Managed"=-'
    [ -z "${2:-}" ] || managed='"Managed"="N"'
    wine_registry --restart "$folder" \
        '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\winebus]' "$sdl" \
        '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' "$managed" || exit 1

    # Debian's Wine 8 finds its own fonts (fonts-wine) only in the prefix's
    # Fonts folder: without Marlett and Tahoma there, caption buttons show
    # as "0 1 r" and boxes take another font. Later Wines find them where
    # they are.
    if [ "$wine_major" -lt 9 ] && [ -d /usr/share/wine/fonts ]; then
        for font in /usr/share/wine/fonts/*; do
            [ -e "$WINEPREFIX/drive_c/windows/Fonts/${font##*/}" ] ||
                ln -s "$font" "$WINEPREFIX/drive_c/windows/Fonts/${font##*/}"
        done
    fi
}
