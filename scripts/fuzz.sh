#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, with clang, ASan and UBSan) and runs each on a copy of its
# corpus with its dictionary, for SECONDS seconds (default 20) or, with --runs N, for N
# executions (with a second number: or that many seconds, what comes first). Any finding stops
# the script with its input saved under build-fuzz/findings/.
#   ./scripts/fuzz.sh            20 s a target, as the test suite runs it
#   ./scripts/fuzz.sh 600        ten minutes a target
#   ./scripts/fuzz.sh --runs 10000000
#   ./scripts/fuzz.sh --runs 10000000 1800   ten million executions or half an hour, what comes first
#   FUZZ_TARGETS="points_gpx catalogue" ./scripts/fuzz.sh 60     only these targets
set -euo pipefail
cd "$(dirname "$0")/.."
limit=(-max_total_time="${1:-20}")
if [ "${1:-}" = "--runs" ]; then
    limit=(-runs="${2:?--runs needs a number}")
    [ -n "${3:-}" ] && limit+=(-max_total_time="$3")
fi

cmake -S fuzz -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ > /dev/null
cmake --build build-fuzz -j"$(nproc)"

findings="$PWD/build-fuzz/findings"
mkdir -p "$findings"
# A target's dictionary: the shared one named here, else fuzz/TARGET.dict when there is one.
declare -A dictionary=(
    [points_gpx]=fuzz/points.dict [points_csv]=fuzz/points.dict
    [settings_reply]=fuzz/reply.dict [userpoint_reply]=fuzz/reply.dict [backup]=fuzz/points.dict
)
# Every target has its corpus in fuzz/corpus/TARGET and its program build-fuzz/fuzz_TARGET.
for corpus in fuzz/corpus/*/; do
    target="$(basename "$corpus")"
    if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $target "* ]]; then continue; fi
    work="$(mktemp -d)"
    cp "$corpus"* "$work"/
    dict=()
    file="${dictionary[$target]:-fuzz/$target.dict}"
    [ -f "$file" ] && dict=(-dict="$file")
    log="$findings/$target.log"
    echo "fuzz: $target (${limit[*]})"
    # Standard output closed: what the code under test prints there is not worth the time.
    if ! "build-fuzz/fuzz_$target" "${dict[@]}" "${limit[@]}" -print_final_stats=1 -close_fd_mask=1 \
        -artifact_prefix="$findings/$target-" "$work" > "$log" 2>&1; then
        echo "fuzz: $target found a fault; the input is in $findings, the log is $log" >&2
        tail -n 30 "$log" >&2
        rm -rf "$work"
        exit 1
    fi
    grep -E "stat::number_of_executed_units" "$log" | sed "s/^/fuzz: $target /"
    rm -rf "$work"
done
