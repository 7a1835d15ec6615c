#!/usr/bin/env bash
# The main job on the bundled example: builds the project, copies the example
# vehicle model into build/example/ (never writing into examples/) and
# converts it into a bulk data file there.
#
#   scripts/example.sh            writes build/example/vehicle.bdf
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev libeigen3-dev nlohmann-json3-dev liblapacke-dev libopenblas-serial-dev

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "${JOBS:-2}" --target sorvan sorvan_view
mkdir -p build/example
cp examples/vehicle/vehicle.map examples/vehicle/vehicle_[abcd] build/example/
# The model is written in mm, N and s; the bulk data in mm, N, t and s.
build/sorvan convert build/example/vehicle.map build/example/vehicle_ \
    --length-unit mm --force-unit N --mass-unit mgg --time-unit s
