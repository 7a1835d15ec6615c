#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each.
#
#   scripts/fuzz.sh BUILD_DIR [SECONDS]
#
# SECONDS defaults to FUZZ_SECONDS, else 45 (CI runs the six targets so).
# For a long run, give each target an hour, one after the other, at the
# lowest priority:
#
#   nice -n 19 scripts/fuzz.sh build-fuzz 3600
#
# Each target starts from its seed corpus in tests/fuzz/corpus/<target>; what
# it finds new goes into a scratch folder, not into the repository. A crash,
# a leak or an input that runs longer than a minute leaves the input in
# BUILD_DIR/fuzz-findings and fails the run. The targets' own messages on
# the standard error stream are dropped (-close_fd_mask=2); the fuzzer's
# reports are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:?usage: scripts/fuzz.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-${FUZZ_SECONDS:-45}}
findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
ran=0
for target in "$build"/tests/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    scratch=$(mktemp -d)
    seeds="$root/tests/fuzz/corpus/$name"
    echo "-- $name for ${seconds}s"
    dirs=("$scratch")
    [ -d "$seeds" ] && dirs+=("$seeds")
    if ! "$target" -max_total_time="$seconds" -timeout=60 -close_fd_mask=2 -print_final_stats=1 \
        -artifact_prefix="$findings/$name-" "${dirs[@]}" >"$findings/$name.log" 2>&1; then
        echo "$name found a fault; see $findings/$name.log" >&2
        tail -40 "$findings/$name.log" >&2
        status=1
    fi
    grep -E '^stat::number_of_executed_units' "$findings/$name.log" || true
    rm -rf "$scratch"
    ran=$((ran + 1))
done
if [ "$ran" -eq 0 ]; then
    echo "no fuzz targets in $build/tests/fuzz" >&2
    exit 1
fi
exit $status
