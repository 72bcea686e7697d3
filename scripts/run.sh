#!/usr/bin/env bash
# Builds the station and starts it on the simulated bench.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zuna07
exec ./build/zuna07 --simulate "$@"
