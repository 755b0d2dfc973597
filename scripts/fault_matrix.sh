#!/usr/bin/env bash
# The whole fault matrix: every host flow (calibration, three scans, the film
# light's warm-up, each self-test) run once for every device request failing, for
# the scanner unplugged at every request, for the bulk reads stalling from every
# bulk read and for every allocation failing, each run checked (tests/faults/).
# The default test run visits about eight sites of each; this visits them all, or
# every STRIDE-th. Some hours on one core at stride 1: a benchmark-style run, not CI.
#
#   scripts/fault_matrix.sh [--stride N] [--jobs N] [--build DIR] [--filter GLOB] [--out DIR]
#
# --filter takes a GoogleTest pattern of the cases (for example '*scan_*' or
# '*_allocation'). Every case runs on to its last site even after a failure; the
# failures and the figures of each case go to the --out directory (the build
# directory's fault_matrix/ by default), a summary to the terminal. Exit status 1
# when any run failed its checks.
set -euo pipefail
cd "$(dirname "$0")/.."

stride=1
jobs=$(nproc)
build=build
filter='*'
out=
while [ $# -gt 0 ]; do
  case "$1" in
    --stride) stride=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --filter) filter=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: $0 [--stride N] [--jobs N] [--build DIR] [--filter GLOB] [--out DIR]" >&2
       exit 2 ;;
  esac
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRX7730_WINE_TESTS=OFF \
    -DQRX7730_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" -j"$jobs" --target fault_matrix
out=${out:-$build/fault_matrix}
rm -rf "$out"
mkdir -p "$out"
# A copy, so that a rebuild meanwhile changes nothing of this run.
cp "$build/tests/faults/fault_matrix" "$out/fault_matrix"
program="$out/fault_matrix"

# One process per case, so that the cases spread over the processors.
cases=$("$program" --gtest_list_tests --gtest_filter="$filter" |
  awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
[ -n "$cases" ] || { echo "no case matches $filter" >&2; exit 2; }
export QRX_FAULT_STRIDE=$stride QRX_FAULT_KEEP_GOING=1
started=$(date +%s)
status=0
printf '%s\n' $cases | xargs -P "$jobs" -I{} sh -c \
  '"$1" --gtest_filter="$2" > "$3/$(echo "$2" | tr / _).log" 2>&1' _ "$program" {} "$out" ||
  status=1

# The figures: sites run per kind, and every run that failed its checks.
cat "$out"/*.log | awk -v seconds=$(( $(date +%s) - started )) '
  /^\[ matrix \]/ {
    line = $0; sub(/^\[ matrix \] /, "", line)
    split(line, parts, ": "); split(parts[1], head, ", "); kind = head[2]
    split(parts[2], figures, " "); run[kind] += figures[1]; total[kind] += figures[3]
    flows[kind]++
    print "  " line
  }
  /: (reported|took|the scanner left|an image reader|a calibration left|the scan left|afterwards|busy after|the scan afterwards)/ ||
  /failed with undocumented/ { failures[++nfail] = $0 }
  END {
    print ""
    for (k in run) printf "%-20s %2d flows, %8d of %8d sites run\n", k ":", flows[k], run[k], total[k]
    printf "%d failed runs; %d s\n", nfail, seconds
    for (i = 1; i <= nfail && i <= 50; ++i) print "  " failures[i]
  }'
exit $status
