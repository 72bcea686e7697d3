#!/usr/bin/env bash
# Saves pictures of the windows on the simulated bench into DIR (default
# shots/): the C120 window after a read with its teach and validation
# dialogs, the C220B window, the SECI RM3 and RM4 windows with their
# calibrations, the C220 window (after a read, in outputs mode) and its
# calibration, the AL3 window with its help, and the model browser's delete
# question, and the C120 band view, comparison table and settings sheet
# (PDF). The picture code lives with the window tests, disabled there so
# that the test run counts tests only. The G13.6000 pictures are made as
# nri/README.md says.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(realpath -m "${1:-shots}")
mkdir -p "$dir"
export QT_QPA_PLATFORM=offscreen ZUNA_SHOT_DIR="$dir"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target test_c120 test_seci test_c220 test_alberici test_store
for t in test_c120 test_seci test_c220 test_alberici; do
  ./build/tests/$t --gtest_also_run_disabled_tests --gtest_filter='*.DISABLED_Screenshot*' --gtest_brief=1
done
./build/tests/test_store --gtest_filter='Browsers.NavigatorMoves*' --gtest_brief=1
ls -l "$dir"/*.png
