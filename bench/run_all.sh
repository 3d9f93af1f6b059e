#!/usr/bin/env bash
# Builds the benchmarks in a Release build folder and runs every one of them, then prints one
# table: benchmark, figure, goal, pass or fail. Each program's own text goes to
# <build>/bench-logs/<program>.log; the table is made from the "RESULT" lines they end with. A
# program that ends without them, or fails, is listed as failed. Exit code 0 when every figure
# meets its goal.
#
# BENCH_BUILD_DIR names the build folder (default: build-rel); BENCH_JOBS the build's jobs
# (default: 2); BENCH_ONLY a list of programs to run instead of all. The figures are times: run it on a quiet machine.
set -uo pipefail
cd "$(dirname "$0")/.."
build="${BENCH_BUILD_DIR:-build-rel}"
jobs="${BENCH_JOBS:-2}"
launcher=()
if command -v ccache > /dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_BENCH=ON "${launcher[@]}" \
      > /dev/null || exit 1
mapfile -t programs < <(sed -n 's/^add_executable(\(bench_[a-z_]*\) .*/\1/p' bench/CMakeLists.txt)
# BENCH_ONLY="bench_a bench_b" runs just those.
if [ -n "${BENCH_ONLY:-}" ]; then read -r -a programs <<< "$BENCH_ONLY"; fi
logs="$build/bench-logs"
mkdir -p "$logs"
cmake --build "$build" -j"$jobs" --target "${programs[@]}" > "$logs/build.log" 2>&1 || {
    echo "run_all: the benchmarks do not build (see $logs/build.log)" >&2
    exit 1
}
rows=()
failed=0
for program in "${programs[@]}"; do
    echo "running $program" >&2
    log="$logs/$program.log"
    "$build/bench/$program" > "$log" 2>&1
    code=$?
    mapfile -t results < <(grep -P '^RESULT\t' "$log" | cut -f2-)
    if [ "${#results[@]}" -eq 0 ]; then
        results=("$program"$'\t'"(no figure, exit $code)"$'\t'"-"$'\t'"FAIL")
    elif [ "$code" -ne 0 ] && ! printf '%s\n' "${results[@]}" | grep -q $'\tFAIL$'; then
        results+=("$program"$'\t'"exit $code"$'\t'"exit 0"$'\t'"FAIL")
    fi
    for row in "${results[@]}"; do
        rows+=("$row")
        [[ "$row" == *$'\t'FAIL ]] && failed=1
    done
done

{
    printf 'benchmark\tfigure\tgoal\tresult\n'
    printf '%s\n' "${rows[@]}"
} | awk -F'\t' '
    { for (i = 1; i <= 4; ++i) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } }
    END {
        for (r = 1; r <= NR; ++r) {
            printf "%-*s  %-*s  %-*s  %s\n", w[1], cell[r, 1], w[2], cell[r, 2], w[3], cell[r, 3], cell[r, 4]
            if (r == 1) {
                line = ""
                for (i = 0; i < w[1] + w[2] + w[3] + 12; ++i) line = line "-"
                print line
            }
        }
    }'
echo "(each program's own text: $logs/)"
exit "$failed"
