#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (address and undefined-behaviour
# sanitizers, QRX7730_FUZZ=ON) in build-fuzz/ and runs each for a bounded time,
# a few at a time, from its seed corpus fuzz/corpus/<target>/. What a run adds to
# the corpus is kept in build-fuzz/corpus/<target>/ (the seeds in the repository
# stay as they are); an input that crashes a target or breaks one of its checks is
# written to build-fuzz/findings/ and named on the output, and the script fails.
#
#   scripts/fuzz.sh [--seconds N] [--jobs N] [TARGET...]
#
# --seconds: time per target (default 300); --jobs: targets at once (default 2);
# TARGET: the targets to run (default all). Prints each target's executions.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=300
jobs=2
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRX7730_FUZZ=ON \
  -DQRX7730_BUILD_TESTS=OFF -DQRX7730_BUILD_BENCHMARKS=OFF -DQRX7730_WINE_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

mkdir -p build-fuzz/findings build-fuzz/logs
run_target() {
  local target=$1
  mkdir -p "build-fuzz/corpus/$target"
  # Leaks are looked for at the end of each input; a target that still runs at the
  # time limit stops cleanly.
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=60 \
    -rss_limit_mb=4096 -artifact_prefix="build-fuzz/findings/$target-" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"build-fuzz/logs/$target.log" 2>&1 &&
    echo 0 >"build-fuzz/logs/$target.status" || echo $? >"build-fuzz/logs/$target.status"
}

failed=0
running=0
for target in "${targets[@]}"; do
  rm -f "build-fuzz/logs/$target.status"
  run_target "$target" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait
for target in "${targets[@]}"; do
  log=build-fuzz/logs/$target.log
  status=$(cat "build-fuzz/logs/$target.status" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ] || grep -q -E '^==[0-9]+==ERROR|fuzz check failed|deadly signal' "$log"; then
    echo "$target: FAILED after ${runs:-?} executions (see $log; inputs in build-fuzz/findings/)"
    grep -m3 -E 'ERROR|fuzz check failed|SUMMARY' "$log" || true
    failed=1
  else
    echo "$target: ${runs:-?} executions in $seconds s, no failure"
  fi
done
exit $failed
