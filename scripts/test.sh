#!/usr/bin/env bash
# Runs every test: the normal build, the sanitizer build (AddressSanitizer and
# UndefinedBehaviorSanitizer) and a short run of each fuzz target.
#
#   scripts/test.sh              all of it
#   FUZZ_SECONDS=300 scripts/test.sh   longer fuzz runs
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev

jobs=${JOBS:-2}

run_build() { # folder, then cmake options
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

echo "== normal build"
run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build"
run_build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSORVAN_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

echo "== fuzz targets"
CC=clang CXX=clang++ run_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSORVAN_TESTS=OFF -DSORVAN_FUZZ=ON
scripts/fuzz.sh build-fuzz "${FUZZ_SECONDS:-30}"

echo "all tests passed"
