#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the bundled simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build build -j"$(nproc)"
exec ./build/examples/qvdemo
