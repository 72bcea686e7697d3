#!/usr/bin/env bash
# Saves pictures of the C120 window, its teach and validation dialogs and the
# C220B window, each after a read on the simulated bench, and the C220 window
# (after a read, in outputs mode) and its calibration, into DIR (default
# shots/). The picture code lives with the window tests, disabled there so
# that the test run counts tests only.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(realpath -m "${1:-shots}")
mkdir -p "$dir"
export QT_QPA_PLATFORM=offscreen ZUNA_SHOT_DIR="$dir"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target test_c120 test_c220
./build/tests/test_c120 --gtest_also_run_disabled_tests --gtest_filter='*.DISABLED_Screenshot*' --gtest_brief=1
./build/tests/test_c220 --gtest_also_run_disabled_tests --gtest_filter='*.DISABLED_Screenshot*' --gtest_brief=1
ls -l "$dir"/*.png
