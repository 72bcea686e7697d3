#!/usr/bin/env bash
# Builds everything and runs all tests (unit, window, bench-driven and
# interoperability tests with the peer tools). The table, link and decoder
# tests also run once under AddressSanitizer and UndefinedBehaviorSanitizer,
# where corrupt files and garbled replies are fed to the readers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZUNA_SANITIZE=ON -DZUNA_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs" --target test_store test_link test_nri test_c120
for t in test_store test_link test_nri test_c120; do
  echo "== $t (sanitizers)"
  ASAN_OPTIONS=detect_leaks=1 ./build-asan/tests/$t --gtest_brief=1
done

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
cd build
ctest --output-on-failure -j "$jobs" --timeout 300
