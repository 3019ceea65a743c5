#!/bin/sh
# Static analysis of the program's own code (app/, lamps/, hid/, pipe/ and
# tools/): clang-tidy with the checks in .clang-tidy, and cppcheck with the
# flags below. Exits non-zero on any finding.
#   scripts/analyze.sh
# clang-tidy reads two compile databases made by configures of their own:
# the 64-bit Windows build (every source, with the MinGW-w64 headers) and the
# native build (the platform-independent sources as the host compiles them,
# which takes their non-Windows branches).
# A finding is fixed, or suppressed where it stands with the reason beside
# it: "// NOLINT(check): why" or "// cppcheck-suppress id ; why".
set -eu
cd "$(dirname "$0")/.."

mingw_cxx=x86_64-w64-mingw32-g++-posix
for tool in clang-tidy cppcheck "$mingw_cxx"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "analyze.sh: $tool is missing; run scripts/install-deps.sh first" >&2
        exit 1
    fi
done

sources='app lamps hid pipe tools'
build=build/analyze
mkdir -p "$build"
status=0

# The program's C++ sources in a compile database.
own_sources() {
    sed -n 's/^ *"file": "\(.*\.cpp\)",\{0,1\}$/\1/p' "$1/compile_commands.json" |
        grep -E "^$PWD/(app|lamps|hid|pipe|tools)/" || true
}

# clang-tidy knows the MinGW target and its C headers, but not where
# Debian's MinGW-w64 g++ keeps its C++ headers: ask the compiler.
mingw_args="--extra-arg=--target=x86_64-w64-mingw32"
for dir in $("$mingw_cxx" -xc++ -E -v /dev/null 2>&1 |
             sed -n '/<\.\.\.> search starts here/,/End of search/p' | grep '/c++'); do
    mingw_args="$mingw_args --extra-arg=-isystem$dir"
done

echo "== analyze: configure"
cmake --preset windows-x64 -B "$build/windows" -DTOLVAREN_TESTS=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$build/configure-windows.log" 2>&1 ||
    { cat "$build/configure-windows.log" >&2; exit 1; }
cmake --preset native -B "$build/native" -DTOLVAREN_TESTS=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$build/configure-native.log" 2>&1 ||
    { cat "$build/configure-native.log" >&2; exit 1; }

# Runs clang-tidy over one database's sources, two files at a time.
tidy() {
    name=$1
    shift
    files=$(own_sources "$build/$name")
    if [ -z "$files" ]; then
        echo "analyze.sh: no sources of app/, lamps/, hid/, pipe/ or tools/ in $build/$name" >&2
        return 1
    fi
    echo "== analyze: clang-tidy, $name build ($(echo "$files" | wc -l) files)"
    log="$build/clang-tidy-$name.log"
    result=0
    echo "$files" | xargs -P 2 -n 4 clang-tidy --quiet -p "$build/$name" "$@" >"$log" 2>&1 ||
        result=1
    grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" || true
    return $result
}
# shellcheck disable=SC2086
tidy windows $mingw_args || status=1
tidy native || status=1

echo "== analyze: cppcheck"
# The Win32 API as cppcheck's windows library describes it; the system's
# own headers are not read. lstrlenACalled: cppcheck warns that lstrlenA
# hides access faults; here it only measures the program's own buffers,
# which are always NUL-terminated. cstyleCast in the virtual lamp's driver's
# files: they are C, read here as C++ like the rest, and C has no other cast.
# shellcheck disable=SC2086
cppcheck --quiet --std=c++17 --language=c++ --library=windows -I . \
    --enable=warning,style,performance,portability --inline-suppr --error-exitcode=1 \
    --suppress=missingIncludeSystem --suppress=lstrlenACalled \
    --suppress="cstyleCast:tools/virtual-lamp/driver/*.c" \
    $sources || status=1

if [ $status -ne 0 ]; then
    echo "analyze.sh: findings above; fix each, or suppress it where it stands with the" \
         "reason beside it (see the top of scripts/analyze.sh)" >&2
fi
exit $status
