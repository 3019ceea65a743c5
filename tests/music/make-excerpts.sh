#!/bin/sh
# Makes the music excerpts that a table pins (tests/music/excerpts.txt
# unless TABLE names another, such as held-out.txt), in DIR: downloads each
# package once (apt-get download, into DIR/debs), takes the one file out of
# it, decodes or renders it and cuts DIR/NAME.wav. What is there already is
# kept, so a second run downloads and decodes nothing. Exits non-zero,
# saying why, when any excerpt can't be made.
#   tests/music/make-excerpts.sh DIR [TABLE]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: tests/music/make-excerpts.sh DIR [TABLE] (DIR: where the excerpts and the packages they" \
         "come from go; TABLE: tests/music/excerpts.txt unless given)" >&2
    exit 1
fi
dir=$1
table=${2:-$here/excerpts.txt}
[ -f "$table" ] || { echo "make-excerpts.sh: no table $table" >&2; exit 1; }
# Every excerpt's length in seconds.
length=25

for tool in apt-get:apt dpkg-deb:dpkg sox:sox xmp:xmp; do
    if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
        echo "make-excerpts.sh: ${tool%%:*} is missing; install it with scripts/install-deps.sh --tests" \
             "(or apt-get install ${tool#*:})" >&2
        exit 1
    fi
done

mkdir -p "$dir/debs"
work=$(mktemp -d "$dir/work.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

fail() {
    echo "make-excerpts.sh: $*" >&2
    exit 1
}

# The packages' .debs in the cache, each downloaded once. apt-get takes
# seconds to start, so the missing ones come in one call. The pinned
# versions first; once the archive has dropped one, the version that
# replaced it, with a note, since the music in a game's data package hardly
# ever changes.
fetch_missing() {
    wanted=""
    while read -r name rate start package version file; do
        case "$name" in '' | '#'*) continue ;; esac
        [ -f "$dir/debs/${package}_$version.deb" ] && continue
        case " $wanted " in *" $package=$version "*) continue ;; esac
        wanted="$wanted $package=$version"
    done <"$table"
    [ -n "$wanted" ] || return 0
    mkdir -p "$work/get"
    # apt's download sandbox user can't write into a root-owned build tree.
    # shellcheck disable=SC2086
    if ! (cd "$work/get" && apt-get download -q -o APT::Sandbox::User=root $wanted) >"$work/apt.log" 2>&1; then
        for pin in $wanted; do
            package=${pin%%=*}
            (cd "$work/get" && apt-get download -q -o APT::Sandbox::User=root "$pin") >"$work/apt.log" 2>&1 && continue
            if (cd "$work/get" && apt-get download -q -o APT::Sandbox::User=root "$package") >>"$work/apt.log" 2>&1; then
                echo "make-excerpts.sh: note: $package ${pin#*=} is gone from the archive;" \
                     "using $(cd "$work/get" && ls "${package}"_*.deb) instead" >&2
            else
                sed 's/^/  /' "$work/apt.log" >&2
                fail "could not download $package ${pin#*=}. Run apt-get update, check that Debian's" \
                     "archive can be reached, and run this again."
            fi
        done
    fi
    for pin in $wanted; do
        mv "$work/get/${pin%%=*}"_*.deb "$dir/debs/${pin%%=*}_${pin#*=}.deb"
    done
}

# What an excerpt's .pin file holds: how the excerpt of this line is cut.
pin_of_line() {
    echo "$rate $start $package $version $file $length"
}

# Whether the excerpt of this line is there already, cut as the line says.
made_already() {
    [ -f "$dir/$name.wav" ] && [ "$(cat "$dir/$name.pin" 2>/dev/null)" = "$(pin_of_line)" ]
}

# The files that the missing excerpts need, into the work folder: each
# package's data is decompressed once (seconds for the larger ones),
# however many excerpts it gives.
unpack_missing() {
    : >"$work/wanted"
    while read -r name rate start package version file; do
        case "$name" in '' | '#'*) continue ;; esac
        made_already && continue
        echo "${package}_$version ./$file" >>"$work/wanted"
    done <"$table"
    cut -d' ' -f1 "$work/wanted" | sort -u >"$work/debs"
    while read -r deb; do
        grep "^$deb " "$work/wanted" | cut -d' ' -f2- >"$work/files"
        dpkg-deb --fsys-tarfile "$dir/debs/$deb.deb" | tar -xf - -C "$work" -T "$work/files" 2>/dev/null ||
            fail "${deb%%_*} ${deb#*_} lacks a file that $table names from it: $(tr '\n' ' ' <"$work/files")"
    done <"$work/debs"
}

made=0
total=0
started=$(date +%s)
fetch_missing
unpack_missing
while read -r name rate start package version file; do
    case "$name" in '' | '#'*) continue ;; esac
    total=$((total + 1))
    made_already && continue
    out=$dir/$name.wav
    source=$work/$file
    # -R: the same bytes every run (no random dither seed); -D: no dither.
    case "$file" in
    *.ogg)
        # -G lowers the gain where resampling would clip a loud master.
        sox -V1 -D -R -G "$source" -r "$rate" -b 16 "$work/$name.wav" trim "$start" "$length" ||
            fail "sox could not decode $file from $package"
        ;;
    *.mod | *.xm | *.it | *.s3m)
        xmp --norc --nocmd -q -f "$rate" -t $((start + length + 1)) -o "$work/rendered.wav" "$source" \
            >/dev/null 2>&1 || fail "xmp could not render $file from $package"
        sox -V1 -D -R "$work/rendered.wav" -b 16 "$work/$name.wav" trim "$start" "$length" ||
            fail "sox could not cut the rendering of $file"
        ;;
    *)
        fail "$file: no way to decode it; give an .ogg file or a tracker module in $table"
        ;;
    esac
    seconds=$(soxi -D "$work/$name.wav")
    case "$seconds" in
    "$length".* | "$length") ;;
    *) fail "$file from $package gives only $seconds s from $start s on; start $name earlier in $table" ;;
    esac
    mv "$work/$name.wav" "$out"
    pin_of_line >"$dir/$name.pin"
    rm -f "$work/rendered.wav"
    made=$((made + 1))
done <"$table"

[ "$total" -gt 0 ] || fail "$table lists no excerpt"
echo "make-excerpts.sh: $total excerpts in $dir ($made made now, in $(($(date +%s) - started)) s)"
