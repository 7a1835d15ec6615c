#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each.
#
#   scripts/fuzz.sh BUILD_DIR [SECONDS]
#
# Each target starts from its seed corpus in tests/fuzz/corpus/<target>; what
# it finds new goes into a scratch folder, not into the repository. A crash
# leaves its input in BUILD_DIR/fuzz-findings and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/fuzz.sh BUILD_DIR [SECONDS]}
seconds=${2:-30}
findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
for target in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    scratch=$(mktemp -d)
    seeds="tests/fuzz/corpus/$name"
    echo "-- $name for ${seconds}s"
    dirs=("$scratch")
    [ -d "$seeds" ] && dirs+=("$seeds")
    if ! "$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/$name-" "${dirs[@]}" >"$findings/$name.log" 2>&1; then
        echo "$name found a fault; see $findings/$name.log" >&2
        tail -40 "$findings/$name.log" >&2
        status=1
    fi
    grep -E '^stat::number_of_executed_units' "$findings/$name.log" || true
    rm -rf "$scratch"
done
exit $status
