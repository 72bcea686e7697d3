#!/usr/bin/env bash
# Saves pictures of the C120 window (after a read on the simulated bench),
# its teach and validation dialogs, the C220B window, the model browser's
# delete question and the AL3 window with its help into DIR (default shots/). The picture code lives with the
# window tests; the C120 ones are disabled there so that the test run counts
# tests only.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(realpath -m "${1:-shots}")
mkdir -p "$dir"
export QT_QPA_PLATFORM=offscreen ZUNA_SHOT_DIR="$dir"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target test_c120 test_store test_alberici
./build/tests/test_c120 --gtest_also_run_disabled_tests --gtest_filter='*.DISABLED_Screenshot*' --gtest_brief=1
./build/tests/test_store --gtest_filter='Browsers.NavigatorMoves*' --gtest_brief=1
./build/tests/test_alberici --gtest_also_run_disabled_tests --gtest_filter='*.DISABLED_Screenshot*' --gtest_brief=1
ls -l "$dir"/*.png
