#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each.
#
#   scripts/fuzz.sh BUILD_DIR [SECONDS]
#
# SECONDS defaults to FUZZ_SECONDS, else 45 (CI runs the six targets so),
# FUZZ_JOBS targets at a time (2).
# For a long run, give each target an hour, one after the other, at the
# lowest priority:
#
#   FUZZ_JOBS=1 nice -n 19 scripts/fuzz.sh build-fuzz 3600
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
parallel=${FUZZ_JOBS:-2}
mkdir -p "$findings"

# One target for the given time; a fault leaves the input and the log in
# findings and fails.
run_target() {
    local target=$1 name scratch seeds
    name=$(basename "$target")
    scratch=$(mktemp -d)
    seeds="$root/tests/fuzz/corpus/$name"
    local dirs=("$scratch")
    [ -d "$seeds" ] && dirs+=("$seeds")
    local rc=0
    "$target" -max_total_time="$seconds" -timeout=60 -close_fd_mask=2 -print_final_stats=1 \
        -artifact_prefix="$findings/$name-" "${dirs[@]}" >"$findings/$name.log" 2>&1 || rc=1
    rm -rf "$scratch"
    return $rc
}

# The targets run FUZZ_JOBS at a time (2 by default, one per core).
status=0
ran=0
running=0
names=()
for target in "$build"/tests/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    echo "-- $(basename "$target") for ${seconds}s"
    run_target "$target" &
    names+=("$(basename "$target")")
    ran=$((ran + 1))
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then
        wait -n || status=1
        running=$((running - 1))
    fi
done
while [ "$running" -gt 0 ]; do
    wait -n || status=1
    running=$((running - 1))
done
if [ "$ran" -eq 0 ]; then
    echo "no fuzz targets in $build/tests/fuzz" >&2
    exit 1
fi
for name in "${names[@]}"; do
    echo "$name: $(grep -E '^stat::number_of_executed_units' "$findings/$name.log" || echo 'no count')"
    if ls "$findings/$name-"* >/dev/null 2>&1 || ! grep -q '^stat::number_of_executed_units' \
        "$findings/$name.log"; then
        echo "$name found a fault; see $findings/$name.log" >&2
        tail -40 "$findings/$name.log" >&2
        status=1
    fi
done
exit $status
