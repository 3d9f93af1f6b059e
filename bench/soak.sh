#!/usr/bin/env bash
# The churn and soak tests at their full size, in a Release build: 256 ports opened and closed
# 1000 times with commands running, 100 searches while devices come and go, and 200 database
# updates in a row over USB and over a serial port. Each prints its figures (descriptors, threads,
# resident size before and after, time, records); the suite runs the same tests smaller.
#
# BENCH_BUILD_DIR names the build folder (default: build-rel); BENCH_JOBS the build's jobs
# (default: 2). The sizes can be changed through the variables the tests read: QV_SOAK_PORTS,
# QV_SOAK_ROUNDS, QV_SOAK_FINDER_ROUNDS, DEVOD_SOAK_UPDATES, DEVOD_SOAK_SERIAL_UPDATES.
set -uo pipefail
cd "$(dirname "$0")/.."
build="${BENCH_BUILD_DIR:-build-rel}"
jobs="${BENCH_JOBS:-2}"
launcher=()
if command -v ccache > /dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_BENCH=ON -DQV_BUILD_TESTS=ON \
      "${launcher[@]}" > /dev/null || exit 1
cmake --build "$build" -j"$jobs" \
      --target qvlib_churn_tests devod_workflow_test devod_serial_test PipeBridge \
      > "$build/soak-build.log" 2>&1 || {
    echo "soak: the tests do not build (see $build/soak-build.log)" >&2
    exit 1
}

export QV_SOAK_PORTS="${QV_SOAK_PORTS:-256}"
export QV_SOAK_ROUNDS="${QV_SOAK_ROUNDS:-1000}"
export QV_SOAK_FINDER_ROUNDS="${QV_SOAK_FINDER_ROUNDS:-100}"
export DEVOD_SOAK_UPDATES="${DEVOD_SOAK_UPDATES:-200}"
export DEVOD_SOAK_SERIAL_UPDATES="${DEVOD_SOAK_SERIAL_UPDATES:-200}"
data="$(mktemp -d /tmp/devod-soak-XXXXXX)"
trap 'rm -rf "$data"' EXIT
export XDG_DATA_HOME="$data"  # DevodTool's backups stay out of the caller's home

failed=0
run() {  # program, test filter
    echo "== $1 $2"
    local start=$SECONDS
    "$build/$1" --gtest_filter="$2" --gtest_brief=1 | grep -E '^(churn|finder|usb|serial)|FAILED|Failure|error' 
    local code=${PIPESTATUS[0]}
    echo "   exit $code, $((SECONDS - start)) s"
    [ "$code" -eq 0 ] || failed=1
}
run qvlib/qvlib_churn_tests 'PortChurn.*'
run qvlib/qvlib_churn_tests 'FinderChurn.*'
run orvixtool/devod_workflow_test 'WorkflowTest.UpdatesInARow*'
run orvixtool/devod_serial_test 'SerialUpgradeTest.UpdatesInARow*'
exit "$failed"
