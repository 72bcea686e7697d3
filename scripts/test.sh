#!/usr/bin/env bash
# Builds everything and runs all tests (unit, window, bench-driven and
# interoperability tests with the peer tools). The table, link, settings
# file and decoder tests also run once under AddressSanitizer and UndefinedBehaviorSanitizer
# (leaks detected), where corrupt files, settings files and garbled replies
# are fed to the readers; the transfer runner's tests run under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# Three builds (sanitizers, thread sanitizer, release) compile the product
# three times; ccache keeps them between runs, also from another clone of the
# repository (paths taken relative to it).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZUNA_SANITIZE=ON -DZUNA_BENCH=OFF "$launcher" >/dev/null
cmake --build build-asan -j "$jobs" --target test_store test_link test_settings test_nri test_c120 test_seci test_c220 test_alberici test_freq
# Three tests whose time goes into the bench running the G13.0000's speed
# tuning again and again (hundreds of millions of simulated port accesses,
# three minutes under the sanitizers) run in the release build only; the
# G13 readers, garbled and cut replies included, stay under the sanitizers
# through the other G13 tests.
slow_under_sanitizers='NriSettings.MechanismStoppingPartWayIsReportedAsItIs:NriSettings.RestoreWritesOnlyWhatChangedAndLeavesTheMechanismAsTheFile:G13OnBench.EveryOperationEndsWithinItsPortTime'
for t in test_store test_link test_settings test_nri test_c120 test_seci test_c220 test_alberici test_freq; do
  echo "== $t (sanitizers)"
  ASAN_OPTIONS=detect_leaks=1 ./build-asan/tests/$t --gtest_brief=1 --gtest_filter="-$slow_under_sanitizers"
done

# The transfer thread and its runner under ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZUNA_TSAN=ON -DZUNA_BENCH=OFF "$launcher" >/dev/null
cmake --build build-tsan -j "$jobs" --target test_ui
echo "== test_ui (thread sanitizer)"
# The band view's pictures are left out: Qt scales images on its own thread
# pool, which ThreadSanitizer cannot see into.
TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/test_ui --gtest_brief=1 --gtest_filter='-BandView.*'

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$launcher" >/dev/null
cmake --build build -j "$jobs"
cd build
ctest --output-on-failure -j "$jobs" --timeout 300
