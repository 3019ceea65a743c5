# shellcheck shell=sh
# The one way the scripts and the test scripts find Wine, read its version,
# start a virtual display, make a Wine prefix, apply registry settings and
# wait for something. Sourced; it only defines functions. They return
# non-zero after saying on standard error what went wrong and what to do,
# and never exit: the VM guest's init (tests/vm/guest.sh) sources it too.
# What they use inside begins with wait_, wine_, registry_ or display_, so
# that no caller's variable is clobbered.

# wait_for [--while PID] SECONDS WHAT COMMAND...: runs COMMAND until it
# succeeds (then 0) or SECONDS have passed (then 1, saying that WHAT did not
# come in that time). With --while, gives up as soon as process PID has
# ended (then 2, silently: the caller knows what that process was). Looks
# ten times a second at first, then twice a second, so that a long wait
# costs little.
wait_for() {
    wait_pid=""
    if [ "$1" = --while ]; then
        wait_pid=$2
        shift 2
    fi
    wait_limit=$1 wait_what=$2
    shift 2
    wait_started=$(date +%s)
    wait_looks=0
    until "$@"; do
        if [ -n "$wait_pid" ] && ! kill -0 "$wait_pid" 2>/dev/null; then
            return 2
        fi
        if [ $(($(date +%s) - wait_started)) -gt "$wait_limit" ]; then
            echo "${0##*/}: waited $wait_limit s for $wait_what, in vain" >&2
            return 1
        fi
        wait_looks=$((wait_looks + 1))
        if [ $wait_looks -le 20 ]; then sleep 0.1; else sleep 0.5; fi
    done
}

# wine_executable PATH...: the first of these that can be run, if any.
wine_executable() {
    for wine_candidate in "$@"; do
        if [ -n "$wine_candidate" ] && [ -f "$wine_candidate" ] && [ -x "$wine_candidate" ]; then
            echo "$wine_candidate"
            return 0
        fi
    done
    return 1
}

# wine_find: the Wine this machine has, wherever the distribution put it;
# WINE (and WINESERVER) choose another. Sets
#   wine64             the loader of 64-bit programs: Debian's own
#                      /usr/lib/wine/wine64 first, since once wine32 is
#                      installed plain "wine" is the 32-bit one (emulated
#                      where the kernel refuses 32-bit programs);
#                      elsewhere wine64, or a wine that runs both;
#   wine32             the loader of 32-bit programs: a wine that runs both,
#                      or the "wine" beside wine64 (Debian's wine32:i386),
#                      empty when there is none;
#   wineserver         the server beside wine64;
#   wine_version_text  what it says it is ("wine-8.0 (Debian 8.0~repack-4)");
#   wine_version       8.0 ("wine-10.0" gives 10.0, "wine-9.0-rc1" 9.0), or
#                      0 when it says something else: such a Wine is taken
#                      for the oldest, so that every setting that older
#                      Wines need is made;
#   wine_major         8.
# Says so and returns 1 when there is no Wine or no server.
# shellcheck disable=SC2034  # the variables are the callers'
wine_find() {
    if [ -n "${WINE:-}" ]; then
        wine64=$(wine_executable "$(command -v "$WINE")") || {
            echo "${0##*/}: WINE names $WINE, which is no program; name your Wine's loader in WINE, or unset it" >&2
            return 1
        }
    else
        wine64=$(wine_executable /usr/lib/wine/wine64 "$(command -v wine64)" "$(command -v wine)") || {
            echo "${0##*/}: no Wine found; install it (scripts/install-deps.sh does), or name yours in WINE" >&2
            return 1
        }
    fi
    case $wine64 in
    */wine) wine32=$wine64 ;;
    *) wine32=$(wine_executable "${wine64%/*}/wine") || wine32="" ;;
    esac
    if [ -n "${WINESERVER:-}" ]; then
        wineserver=$WINESERVER
    elif ! wineserver=$(wine_executable "${wine64%/*}/wineserver" /usr/lib/wine/wineserver \
        "$(command -v wineserver)"); then
        echo "${0##*/}: found no wineserver beside $wine64; name it in WINESERVER" >&2
        return 1
    fi
    if ! wine_version_text=$("$wine64" --version 2>/dev/null); then
        echo "${0##*/}: $wine64 --version fails, so this Wine does not run; reinstall it, or name another in WINE" >&2
        return 1
    fi
    wine_version=$(echo "$wine_version_text" | sed -n 's/^wine-\([0-9][0-9.]*[0-9]\).*/\1/p')
    wine_version=${wine_version:-0}
    wine_major=${wine_version%%.*}
}

# wine_path PATH: PATH as Windows programs under Wine see it (Z:\...).
wine_path() {
    case $1 in
    /*) wine_absolute=$1 ;;
    *) wine_absolute=$PWD/$1 ;;
    esac
    printf 'Z:%s\n' "$wine_absolute" | sed 's|/|\\|g'
}

# What the ready mark of a prefix says: the Wine that made it, and whether
# its 32-bit half was there, since only a prefix made with it runs 32-bit
# programs.
wine_prefix_mark() {
    if [ -n "$wine32" ]; then
        echo "$wine_version_text, with 32-bit programs"
    else
        echo "$wine_version_text, 64-bit only"
    fi
}

# wine_prefix_ready: true when $WINEPREFIX was made by this Wine as it is
# now (wine_prefix's mark).
wine_prefix_ready() {
    [ "$(cat "$WINEPREFIX/tolvaren-made" 2>/dev/null)" = "$(wine_prefix_mark)" ]
}

# wine_prefix LOG: makes $WINEPREFIX unless this Wine, as it is now, made it
# (again when wine32 came or went, or the Wine changed), with wineboot's
# output in LOG, and lets Wine end. Make it with no DLL overrides in force:
# with the simulated setupapi, wineboot leaves a broken prefix.
wine_prefix() {
    wine_prefix_ready && return 0
    echo "${0##*/}: making the Wine prefix $WINEPREFIX (once for this Wine; half a minute," \
         "or a few minutes where its 32-bit half runs emulated)"
    rm -rf "${WINEPREFIX:?}"
    if ! "$wine64" wineboot -i </dev/null >"$1" 2>&1 || ! "$wineserver" -w ||
        [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "${0##*/}: making the Wine prefix $WINEPREFIX failed; see $1" >&2
        return 1
    fi
    wine_prefix_mark >"$WINEPREFIX/tolvaren-made"
}

# wine_registry [--restart] FOLDER LINE...: sets what the LINEs of a REGEDIT4
# file say in $WINEPREFIX's registry, unless the prefix holds these settings
# already; FOLDER gets the file (settings.reg) and regedit's log. A LINE is a
# key ('[HKEY_CURRENT_USER\Software\Wine\X11 Driver]', '[-KEY]' deletes it)
# or a value of the key before it ('"Managed"="N"', '"Managed"=-' deletes
# it). --restart then lets Wine end, for settings that a driver reads when it
# starts; leave it out while a server is kept running (wineserver -p).
wine_registry() {
    registry_restart=""
    if [ "$1" = --restart ]; then
        registry_restart=yes
        shift
    fi
    registry_file=$1/settings.reg
    shift
    {
        printf 'REGEDIT4\r\n'
        for registry_line in "$@"; do
            case $registry_line in
            \[*) printf '\r\n%s\r\n' "$registry_line" ;;
            *) printf '%s\r\n' "$registry_line" ;;
            esac
        done
        printf '\r\n'
    } >"$registry_file"
    cmp -s "$registry_file" "$WINEPREFIX/tolvaren-settings.reg" && return 0
    if ! "$wine64" regedit /S "$(wine_path "$registry_file")" </dev/null >"${registry_file%/*}/regedit.log" 2>&1; then
        echo "${0##*/}: regedit could not apply $registry_file to $WINEPREFIX; see ${registry_file%/*}/regedit.log" >&2
        return 1
    fi
    if [ -n "$registry_restart" ]; then "$wineserver" -w; fi
    cp "$registry_file" "$WINEPREFIX/tolvaren-settings.reg"
}

# display_start LOG [XVFB OPTION...]: starts a virtual display (Xvfb) on a
# display number no other server holds, which Xvfb chooses itself, waits
# until it takes connections and exports DISPLAY for it; sets display_pid.
# Its output goes to LOG.
display_start() {
    display_log=$1
    shift
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "${0##*/}: Xvfb is missing; install xvfb (scripts/install-deps.sh does)" >&2
        return 1
    fi
    # Xvfb writes the number it took to that file once it takes connections.
    display_number=$(mktemp "${TMPDIR:-/tmp}/display.XXXXXX")
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp "$@" \
        </dev/null >"$display_log" 2>&1 3>"$display_number" &
    display_pid=$!
    display_code=0
    wait_for --while "$display_pid" 30 "Xvfb to take connections" test -s "$display_number" ||
        display_code=$?
    DISPLAY=:$(cat "$display_number")
    rm -f "$display_number"
    if [ $display_code -ne 0 ] || [ ! -S "/tmp/.X11-unix/X${DISPLAY#:}" ]; then
        kill "$display_pid" 2>/dev/null
        echo "${0##*/}: Xvfb did not start; see $display_log" >&2
        return 1
    fi
    export DISPLAY
}
