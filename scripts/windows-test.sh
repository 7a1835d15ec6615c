#!/usr/bin/env bash
# The Windows stage: cross-builds the 32-bit plug-in (sorvan_view.dll), the
# stand-in host library (plexa.dll), the command-line host (sorvan.exe) and
# the test programs into build-win/, runs the test suite under Wine and packs
# the result (scripts/package.sh).
#
#   scripts/windows-test.sh
#
# As root, the cross compiler and Wine are installed when missing (with the
# i386 architecture that Wine's 32-bit part needs); otherwise the script names
# what is missing and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
started=$SECONDS

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing: the i386 package architecture, which wine32:i386 needs" >&2
        echo "add it (dpkg --add-architecture i386 && apt-get update) or run this script as root" >&2
        exit 1
    fi
    echo "adding the i386 package architecture"
    dpkg --add-architecture i386
    unset SORVAN_APT_UPDATED # the package lists must be read again
fi
need_packages cmake make g++-mingw-w64-i686-posix wine wine32:i386 libeigen3-dev nlohmann-json3-dev

jobs=${JOBS:-2}
build=build-win

echo "== Windows cross build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"
built=$SECONDS

echo "== Windows tests under Wine"
# A prefix of our own, no display, no debug channels, and no offer to
# install the runtimes Wine fetches for .NET and HTML programs (none of ours
# needs them). The server is started
# once, detached from every pipe, so that no test starts one of its own (a
# server started from inside a test can hold CTest's pipe until its timeout).
export WINEPREFIX="$PWD/$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
stop_wine() { wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap stop_wine EXIT
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1
ctest --test-dir "$build" --output-on-failure --timeout 120 -j "$jobs"
stop_wine
trap - EXIT
tested=$SECONDS

echo "== Windows package"
scripts/package.sh

echo "Windows stage: build $((built - started)) s, tests $((tested - built)) s," \
    "package $((SECONDS - tested)) s, $((SECONDS - started)) s in all"
