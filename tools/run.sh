#!/usr/bin/env bash
# Installs what is missing, builds Qorvette and opens the editor on the demo song.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target qorvette
song=examples/demo.qze
if [ -f "$song" ]; then exec build/qorvette "$song"; else exec build/qorvette; fi
