#!/usr/bin/env bash
# Runs the soak long: host processes making framed calls and whole scans on one
# qrx7730-sim daemon's scanner, one killed at a random moment every few seconds,
# checked for interleaved framed sequences, wedged processes, failed calls and
# wrong images (tests/multiprocess/soak_test.cpp). Builds what it needs in build/.
#
#   scripts/soak.sh [SECONDS] [PROCESSES] [SPEED]
#
# SECONDS: duration (default 600); PROCESSES: clients at a time (default 4);
# SPEED: the daemon's and the clients' time factor (default 20). Prints the
# run's figures: operations, scans, kills, requests, framed sequences.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
processes=${2:-4}
speed=${3:-20}
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target multiprocess_soak soak_client qrx7730-sim qrx7730
QRX_SOAK_SECONDS=$seconds QRX_SOAK_PROCESSES=$processes QRX_SOAK_SPEED=$speed \
  build/tests/multiprocess/multiprocess_soak
