#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full
# build (core, user interface, fuzz corpus replays) and a second build of the
# core tests under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_BUILD_UI=OFF -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"

status=0
echo "== tests =="
(cd build && ctest --output-on-failure -j"$jobs") || status=1
echo "== core tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs") || status=1
exit $status
