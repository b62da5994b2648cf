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
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TSAN=ON -DQV_BUILD_UI=OFF -DQV_BUILD_BENCH=OFF >/dev/null
tsan_targets=(test_audio_output test_audio_output_engine test_sdl_audio_output test_sdl_disk_record
  test_player_threads test_chip_pair test_export_driver test_wav_export test_song_document)
cmake --build build-tsan -j"$jobs" --target "${tsan_targets[@]}"

status=0
echo "== tests =="
(cd build && ctest --output-on-failure -j"$jobs") || status=1
echo "== core tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs") || status=1
echo "== threaded tests under ThreadSanitizer =="
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --output-on-failure -j"$jobs" \
  -R '^(AudioBufferSettings|AudioStream|AudioStreamEngine|SdlDummy|SdlDisk|PlayerThreads|ChipPair[A-Za-z]*|ExportDriver|RecordFrames|WaveFile|WaveRender|SongDocument)\.') || status=1
exit $status
