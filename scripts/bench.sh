#!/usr/bin/env bash
# Builds the benchmark in Release and runs it: reading the ABC set, writing
# the BDF, the whole conversion and the state matrix writer for dense models
# of 250, 1000 and 3000 states, and the road profile with its RPC III file
# for 10^7 samples, each against its floor and its straightforward version.
# Prints the table (ratios measured in this one run, values per second).
# Then the analysis commands on the same models: `sorvan info` and `sorvan
# check` of each (the deck converted first), wall and CPU seconds and peak
# memory, with the targets for 3000 states.
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
need_packages cmake make g++ libeigen3-dev nlohmann-json3-dev liblapacke-dev libopenblas-serial-dev \
    time

dir=${BENCH_BUILD:-build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DSORVAN_BENCH=ON >/dev/null
cmake --build "$dir" -j "${JOBS:-2}" --target sorvan_bench sorvan sorvan_view >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
work="$dir/bench-work"
status=0
"$dir/bench/sorvan_bench" --work "$work" --keep "$@" || status=$?

# The analysis commands on the models the benchmark left. The benchmark's
# random models do not survive the 8-character fields of a default deck, so
# check reports deviations (exit 1): the time is what counts here.
echo
echo "| command | states | wall s | CPU s | peak MiB | target | met |"
echo "|---|---|---|---|---|---|---|"
for map in $(ls "$work"/m*.map 2>/dev/null | sort -V); do
    base=${map%.map}_
    states=$(basename "$map" .map | tr -d m)
    "$dir/sorvan" convert "$map" "$base" -o "${map%.map}.bdf" >/dev/null 2>&1
    for command in info check; do
        if [ "$command" = info ]; then
            words=(info "$map" "$base")
            limit=20
        else
            words=(check "${map%.map}.bdf" --map "$map" --abc "$base")
            limit=60
        fi
        /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$dir/sorvan" "${words[@]}" \
            >/dev/null 2>&1 || true
        # The last line: a failing command's status comes first.
        read -r wall user system peak < <(tail -n 1 "$work/time.txt")
        target=- met=-
        if [ "$states" = 3000 ]; then
            target="<= $limit s"
            met=$(awk -v w="$wall" -v l="$limit" 'BEGIN { print (w <= l) ? "yes" : "no" }')
        fi
        awk -v c="$command" -v n="$states" -v w="$wall" -v u="$user" -v s="$system" \
            -v m="$peak" -v t="$target" -v ok="$met" \
            'BEGIN { printf "| %s | %s | %.2f | %.2f | %.0f | %s | %s |\n", c, n, w, u + s, m / 1024, t, ok }'
    done
    rm -f "${map%.map}.bdf" "$map" "$base"a "$base"b "$base"c "$base"d
done
rm -f "$work/time.txt"
exit $status
