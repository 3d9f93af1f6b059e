#!/usr/bin/env bash
# Installs what is missing, checks the formatting, then builds and runs the whole test suite
# twice: every test under AddressSanitizer and UndefinedBehaviorSanitizer, and the threaded tests
# under ThreadSanitizer. Between the two it fuzzes every parser target for 20 s and runs the run
# command once without a display (virtual display, screenshots, a whole database update), as a
# fresh machine would, so that a failing main job fails the tests too.
set -euo pipefail
cd "$(dirname "$0")/.."
# The run command's packages too (virtual display, screenshot tools).
./scripts/setup.sh run < /dev/null
jobs="$(nproc)"

# One style for every C and C++ file of the tree (.clang-format).
echo "Checking the formatting"
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined \
      -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest -j"$jobs" --output-on-failure)

# Every parser fuzzed for a while (libFuzzer, clang, ASan and UBSan).
./scripts/fuzz.sh 20

# The main job, headless whatever the caller's session has.
echo "Running the run command without a display"
env -u DISPLAY -u WAYLAND_DISPLAY ./scripts/run.sh < /dev/null

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread \
      -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build build-tsan -j"$jobs"
# TSan needs the usual address-space layout; newer kernels randomise more than it accepts.
(cd build-tsan && setarch "$(uname -m)" -R ctest -j"$jobs" -L threads --output-on-failure)
