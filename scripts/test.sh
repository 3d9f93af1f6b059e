#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: every test under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the threaded tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs="$(nproc)"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined \
      -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread \
      -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build build-tsan -j"$jobs"
# TSan needs the usual address-space layout; newer kernels randomise more than it accepts.
(cd build-tsan && setarch "$(uname -m)" -R ctest -j"$jobs" -L threads --output-on-failure)
