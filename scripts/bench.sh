#!/usr/bin/env bash
# Builds the benchmark in Release and runs it: reading the ABC set, writing
# the BDF, the whole conversion and the state matrix writer for dense models
# of 250, 1000 and 3000 states, and the road profile with its RPC III file
# for 10^7 samples, each against its floor and its straightforward version.
# Prints the table (ratios measured in this one run, values per second).
#
#   scripts/bench.sh                          the whole benchmark
#   scripts/bench.sh --sizes 3000 --repeat 5  options of bench/bench.cpp
#   BENCH_BUILD=build-x scripts/bench.sh      another build folder
#
# The models go to a work folder in the build folder and are removed again;
# the largest needs about 1.5 GB of disk for a moment.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages cmake make g++ libeigen3-dev nlohmann-json3-dev liblapacke-dev libopenblas-serial-dev

dir=${BENCH_BUILD:-build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DSORVAN_BENCH=ON >/dev/null
cmake --build "$dir" -j "${JOBS:-2}" --target sorvan_bench >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
"$dir/bench/sorvan_bench" --work "$dir/bench-work" "$@"
