# Sourced by the scripts that run a tool in the Wine prefix of
# scripts/run.sh (send.sh, vis.sh).

# pick_build ARG: the 64-bit build, or the 32-bit one when ARG is --x86
# (then true, so that the caller shifts it away). Sets preset and wine.
pick_build() {
    preset=windows-x64
    wine=/usr/lib/wine/wine64
    [ "$1" = "--x86" ] || return 1
    preset=windows-x86
    wine=wine
}

# prepare_tool TARGET: builds the tool quietly, so that the output is the
# tool's alone, and checks that the prefix is there; exits with a message
# when either fails. Sets WINEPREFIX.
prepare_tool() {
    caller=$(basename "$0")
    if ! log=$( (cmake --preset "$preset" && cmake --build --preset "$preset" --target "$1") 2>&1); then
        echo "$log" >&2
        echo "$caller: building $1 failed (above); run scripts/run.sh once to install what is missing" >&2
        exit 1
    fi
    WINEPREFIX="$PWD/build/run/wineprefix"
    WINEDEBUG=-all
    export WINEPREFIX WINEDEBUG
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "$caller: there is no Wine prefix in $WINEPREFIX yet, so tolvaren is not running;" \
             "start it first with scripts/run.sh" >&2
        exit 2
    fi
}
