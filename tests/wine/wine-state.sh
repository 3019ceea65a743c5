# shellcheck shell=sh
# Sourced by the scripts here, with build set to a build tree: the Wine the
# tests run on and where the tree keeps its test prefix and display for
# it. Each Wine gets a folder of its own (build/windows-x64/wine-8.0,
# wine-10.0, ...), since a prefix that one Wine made or updated is no
# prefix for another.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# "wine-8.0 (Debian 8.0~repack-4)" gives 8.0.
wine_version=$("$wine" --version 2>/dev/null | sed -n 's/^wine-\([0-9][0-9.]*\).*/\1/p')
state="$build/wine-${wine_version:-unknown}"
