# shellcheck shell=sh
# Sourced by the scripts that run the programs under Wine (run.sh, send.sh,
# vis.sh).

# find_wine: the Wine this machine has, wherever the distribution put it;
# WINE (and WINESERVER) choose another. Sets wine64, which runs 64-bit
# programs, wine32, which runs 32-bit ones, wineserver, wine_version (8.0)
# and wine_major (8), and WINEPREFIX, the prefix of scripts/run.sh for
# this Wine: each Wine has its own, since a prefix that a newer Wine
# updated is no prefix for an older one. Exits with a message when there
# is no Wine.
find_wine() {
    caller=$(basename "$0")
    wine64=${WINE:-}
    if [ -z "$wine64" ]; then
        # Debian's own loader for 64-bit programs, since with wine32 there
        # plain "wine" is the 32-bit one; elsewhere wine64, or a wine that
        # runs both.
        for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
            if [ -n "$candidate" ] && [ -x "$candidate" ]; then
                wine64=$candidate
                break
            fi
        done
    fi
    if [ -z "$wine64" ] || ! version=$("$wine64" --version 2>/dev/null); then
        echo "$caller: no Wine found; install it (scripts/install-deps.sh does), or name yours in WINE" >&2
        exit 1
    fi
    wine32=${WINE:-$(command -v wine || echo "$wine64")}
    wineserver=${WINESERVER:-}
    if [ -z "$wineserver" ]; then
        for candidate in "$(dirname "$wine64")/wineserver" /usr/lib/wine/wineserver "$(command -v wineserver || true)"; do
            if [ -n "$candidate" ] && [ -x "$candidate" ]; then
                wineserver=$candidate
                break
            fi
        done
    fi
    # "wine-8.0 (Debian 8.0~repack-4)", "wine-10.0", "wine-9.0-rc1"
    wine_version=$(echo "$version" | sed -n 's/^wine-\([0-9][0-9.]*[0-9]\).*/\1/p')
    wine_version=${wine_version:-0}
    wine_major=${wine_version%%.*}
    WINEPREFIX="$PWD/build/run/wine-$wine_version"
    WINEDEBUG=-all
    export WINEPREFIX WINEDEBUG
}

# pick_build ARG: the 64-bit build, or the 32-bit one when ARG is --x86
# (then true, so that the caller shifts it away). Sets preset and wine, the
# Wine that runs that build.
pick_build() {
    find_wine
    preset=windows-x64
    wine=$wine64
    [ "$1" = "--x86" ] || return 1
    preset=windows-x86
    wine=$wine32
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
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "$caller: there is no Wine prefix in $WINEPREFIX yet, so tolvaren is not running;" \
             "start it first with scripts/run.sh" >&2
        exit 2
    fi
}

# setup_prefix FOLDER [VIRTUAL]: makes $WINEPREFIX if it is not there yet
# and sets it up for the programs, as scripts/run.sh sets up a user's;
# VIRTUAL not empty for a virtual display. FOLDER gets the logs and the
# settings file. The guest of the VM tests (tests/vm) sets up its user's
# prefix with this too.
setup_prefix() {
    folder=$1
    virtual=${2:-}
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine64" wineboot -i >"$folder/wineboot.log" 2>&1
        "$wineserver" -w
    fi

    # Wine 8's USB bus driver passes Linux's hidraw devices, real lamps
    # among them, to Windows programs only with its SDL backend off (later
    # Wines pass them whatever it is). On a virtual display no window
    # manager draws title bars and frames, so Wine draws them itself
    # (unmanaged windows); on a desktop the window manager does.
    settings=$folder/settings.reg
    {
        printf 'REGEDIT4\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\winebus]\r\n'
        if [ "$wine_major" -lt 9 ]; then printf '"Enable SDL"=dword:00000000\r\n\r\n'; else printf '"Enable SDL"=-\r\n\r\n'; fi
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
        if [ -n "$virtual" ]; then printf '"Managed"="N"\r\n\r\n'; else printf '"Managed"=-\r\n\r\n'; fi
    } >"$settings"
    if ! cmp -s "$settings" "$WINEPREFIX/tolvaren-settings.reg"; then
        "$wine64" regedit /S "Z:$(cd "$folder" && pwd | sed 's|/|\\|g')\\settings.reg" >"$folder/regedit.log" 2>&1
        # The bus driver reads its setting when it starts: let this Wine
        # end, so that the next start reads it.
        "$wineserver" -w
        cp "$settings" "$WINEPREFIX/tolvaren-settings.reg"
    fi

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
