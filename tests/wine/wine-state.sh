# shellcheck shell=sh
# Sourced by the scripts here, with build set to a build tree: the Wine the
# tests run on (scripts/lib/wine.sh's, which the WINE variable changes) and
# where the tree keeps its test prefix and display for it. Each Wine gets a
# folder of its own (build/windows-x64/wine-8.0, wine-10.0, ...), since a
# prefix that one Wine made or updated is no prefix for another. Exits with
# a message when there is no Wine.
# shellcheck source=scripts/lib/wine.sh
. "$(dirname "$0")/../../scripts/lib/wine.sh"
wine_find || exit 1
# shellcheck disable=SC2034,SC2154  # build is the sourcing script's, state is for it
state="$build/wine-$wine_version"
