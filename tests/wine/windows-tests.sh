#!/bin/sh
# Runs the Windows tests of a windows-x64 build tree again under the Wine at
# hand, in scripts/debian13.sh's root Wine 10, and the check of the scripts
# that find a real lamp on this userland. ctest runs the tests as the tree
# lists them, without reconfiguring it: the root's cmake is newer than the
# one that configured the tree, and it has no compilers. The release zip
# the 32-bit smoke test starts must be there already (scripts/test.sh's
# first run of the tests makes it).
#   windows-tests.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
project=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=scripts/lib/wine.sh
. "$project/scripts/lib/wine.sh"
wine_find || exit 1
echo "windows-tests.sh: $wine_version_text, $(. /etc/os-release && echo "$PRETTY_NAME")"
status=0
ctest --test-dir "$build" --output-on-failure -E '^release_package$' --fixture-exclude-setup release_zip || status=1
"$project/tests/scripts/hidraw_lamp_test.sh" "$project/scripts/hidraw-lamp.sh" || status=1
exit $status
