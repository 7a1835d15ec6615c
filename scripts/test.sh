#!/usr/bin/env bash
# Runs every test: the normal build, the sanitizer build (AddressSanitizer and
# UndefinedBehaviorSanitizer), a short run of each fuzz target, and the
# 32-bit Windows build under Wine (scripts/windows-test.sh).
#
#   scripts/test.sh              all of it
#   FUZZ_SECONDS=300 scripts/test.sh   longer fuzz runs
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev valgrind \
    clang-format libeigen3-dev nlohmann-json3-dev pybind11-dev python3-pybind11 python3-numpy \
    python3-pytest liblapacke-dev libopenblas-serial-dev

jobs=${JOBS:-2}
stage_start=$SECONDS
stage() { # prints how long the last stage took, then the next one's name
    echo "   ($((SECONDS - stage_start)) s)"
    stage_start=$SECONDS
    echo "== $1"
}

run_build() { # folder, then cmake options
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

echo "== format"
# Every C and C++ file in the repository as clang-format writes it
# (.clang-format); the check names each file that differs.
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

stage "normal build"
run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$jobs"

stage "valgrind"
# The normal build's whole suite once more, every test under memcheck: any
# invalid access, use of an undefined value or lost block fails the test.
# Every test but the Python module's (label python, left out with -LE):
# under memcheck it would measure the interpreter. The tests that fork a
# child under a file size limit run too; a child's own valgrind report may
# be cut short by that limit, but an error in the child still changes its
# exit status, which the test checks. The differential tests compare 10^5
# values here; the normal build compared 10^6.
SORVAN_DIFF_VALUES=100000 ctest --test-dir build -T memcheck -LE python --output-on-failure -j "$jobs" \
    --overwrite MemoryCheckCommand="$(command -v valgrind)" \
    --overwrite "MemoryCheckCommandOptions=--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect"

stage "sanitizer build"
run_build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSORVAN_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

stage "fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSORVAN_TESTS=OFF -DSORVAN_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_all -j "$jobs"
scripts/fuzz.sh build-fuzz "${FUZZ_SECONDS:-45}"

stage "Windows build"
scripts/windows-test.sh

stage "done"
echo "all tests passed in $SECONDS s"
scripts/linecount.sh
