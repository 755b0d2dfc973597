#!/usr/bin/env bash
# Builds the library, the emulator, the programs, the SANE backend, the network
# scanner server and the tests, and runs every test: the unit, integration and
# multi-process tests, the fault
# matrix in its reduced form (about eight fault sites of each host flow and fault
# kind; scripts/fault_matrix.sh runs every site), the
# programs, the USB channel through libusb against emulated usbfs devices
# (umockdev), the SANE backend under scanimage and saned, the network scanner
# server under curl, scanimage with sane-airscan, headless Chromium and avahi
# (in a network namespace of its own), the export checks, an
# install into a temporary prefix, the Windows DLL, installer and driver package
# under Wine, the Debian packages (built, checked by lintian, installed with apt
# and purged), the whole suite
# again under the address/undefined-behaviour and thread sanitizers, and each
# fuzz target for a short time.
# Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)

# Each phase's time, printed as it ends and once more, with every phase's, when the
# run ends (also when a phase fails); after each CTest phase its 15 slowest tests,
# from what CTest recorded of the run.
phase_report=()
phase_name=
phase_began=$SECONDS
run_began=$SECONDS
phase() {
  phase_end
  phase_name=$1
  phase_began=$SECONDS
  echo "=== phase: $phase_name"
}
phase_end() {
  [ -n "$phase_name" ] || return 0
  local line
  line=$(printf '%-34s %5d s' "$phase_name" $((SECONDS - phase_began)))
  phase_report+=("$line")
  echo "=== phase done: $line"
  phase_name=
}
summary() {
  local status=$?
  phase_end
  echo "=== time of each phase"
  printf '%s\n' "${phase_report[@]}"
  printf '%-34s %5d s\n' "whole run" $((SECONDS - run_began))
  [ $status -eq 0 ] || echo "=== the run failed (exit status $status) in the phase above the summary"
}
trap summary EXIT
slowest() {
  local costs=$1/Testing/Temporary/CTestCostData.txt
  [ -f "$costs" ] || return 0
  echo "=== the 15 slowest tests of $1"
  # Each line is the test's name (which may hold spaces), its runs and its time.
  # (sed, not head, takes the first lines: it reads to the end, so that sort is
  # never cut off and the pipe never fails.)
  sed '/^---/,$d' "$costs" | awk '{ t = $NF; NF -= 2; printf "%8.1f s  %s\n", t, $0 }' |
    sort -g -r | sed -n '1,15p'
}
# ctest DIRECTORY [ARGUMENTS...]: runs the tests, then names the slowest of them,
# also when some failed.
run_ctest() {
  local dir=$1 status=0
  shift
  ctest --test-dir "$dir" --output-on-failure "$@" || status=$?
  slowest "$dir"
  return $status
}

phase "set-up: packages"
bash scripts/setup_packages.sh \
  ca-certificates cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev \
  g++-mingw-w64-x86-64-posix wine wine64 binutils nsis libwine-dev xvfb xauth imagemagick \
  pkg-config zlib1g-dev libpng-dev libtiff-dev libjpeg-dev \
  libusb-1.0-0-dev libumockdev-dev umockdev clang libclang-rt-14-dev \
  libmicrohttpd-dev libpugixml-dev libavahi-client-dev \
  curl openssl python3 bc iproute2 util-linux dbus-daemon avahi-daemon avahi-utils \
  chromium chromium-driver \
  dpkg-dev debhelper lintian adduser systemd
# The SANE API header, scanimage, saned and the net backend, without SANE's
# scanner backends (checked).
bash scripts/setup_sane.sh

# Most tests wait on the emulator's clock rather than compute (the machine stays
# far from busy at one test per core), so three run per core; they share nothing.
# The address sanitizer's tests wait as much; the thread sanitizer's compute more,
# so two run per core there.
test_jobs=$((jobs * 3))
tsan_test_jobs=$((jobs * 2))

# The main build: every test, including the Windows build as the README documents
# it (every target, in build/windows-build) and its programs under Wine. It is
# also the build the Debian packages are made from, so it is configured as
# debian/rules configures it: the prefix /usr with Debian's library directory.
phase "release: configure and build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib/"$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
cmake --build build -j"$jobs"
# The Windows build (in build/windows-build) and what runs under Wine are tests of
# their own folder (build/tests/wine, label windows): they run beside the release
# tests, which mostly wait on the emulator's clock while the Windows build computes.
# The package tests change the machine: they run alone, below.
phase "release: tests (the Windows phase beside them)"
(
  began=$SECONDS status=0
  run_ctest build/tests/wine -j"$jobs" > build/windows-phase.log 2>&1 || status=$?
  echo $((SECONDS - began)) > build/windows-phase.time
  exit $status
) &
windows_run=$!
release_status=0
run_ctest build -j"$test_jobs" -LE 'windows|packages' || release_status=$?
windows_status=0
wait "$windows_run" || windows_status=$?
echo "=== the Windows phase, beside the release tests (build/windows-phase.log):"
cat build/windows-phase.log
phase_report+=("$(printf '%-34s %5d s' "windows: build and tests under Wine" \
  "$(cat build/windows-phase.time 2>/dev/null || echo 0)")")
if [ "$release_status" -ne 0 ] || [ "$windows_status" -ne 0 ]; then
  echo "=== failed: release tests (status $release_status), Windows phase (status $windows_status)"
  exit 1
fi

# The Debian packages from that build (not built again), lintian over them, and
# their install with apt, use, removal and purge, which leaves the machine as
# it was. Alone: the installed library and SANE entry would be seen by the tests
# above.
phase "debian: packages, lintian, apt install"
bash scripts/build_packages.sh build/packages
QRX_INSTALL_PACKAGES=1 ctest --test-dir build --output-on-failure -L packages

# Address and undefined-behaviour sanitizers (the Windows build is not rebuilt).
phase "asan: configure and build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQRX7730_SANITIZE=ON \
  -DQRX7730_BUILD_BENCHMARKS=OFF -DQRX7730_WINE_TESTS=OFF
cmake --build build-asan -j"$jobs"
# The soak at half its speed: the sanitizers slow its processes down.
# The network scanner server's client and failure tests (sane-airscan, Chromium,
# avahi, a lost scanner, the network namespace) check what clients see, not
# memory: its protocol, network and hostile-request tests run here.
# The square-resolution chart scans at 150, 300 and 600 dpi read through the same
# paths as the unequal pairings at those resolutions, which run here; the chart
# runs at 75 dpi in every depth, and from 1200 dpi (segmented reads) each depth at
# one resolution and each resolution in one depth (the release run has all).
# The fault matrix visits about four sites of each flow and fault kind here (eight
# in the release run, every site in scripts/fault_matrix.sh).
phase "asan: tests"
ASAN_OPTIONS=detect_leaks=1 QRX_SOAK_SPEED=10 QRX_FAULT_SITES=4 run_ctest build-asan -j"$test_jobs" \
  -E 'escl_programs\.(Airscan|Failures|web_page|mdns|network_namespace)|ChartFidelity\.TheChartComesBackWhereItLies/((150|300|600)dpi|1200dpi_(16|24)bit|2400dpi_(8|24|48)bit|4800dpi_(8|16|48)bit)'

# Thread sanitizer over the code with threads: platform, transport, emulator and
# its socket link, the tuning record read from many threads, api, the image ring
# and reader thread, the background calibration (integration), the multi-process
# tests and the soak (the daemon's client threads), the programs (the daemon,
# qrxscan's wait notices), the SANE backend (its scan thread), the network
# scanner server (its connection and scan threads and the pipe between them, in
# cancels and vanished clients; the header deadline's thread; the model read in the
# background while another program has the scanner; a stop while a client waits)
# and the library unloaded with its threads running.
# Only the test programs of those tests are built, with the programs and the
# client processes they start.
tsan_tests='unit_platform|unit_transport|unit_api|unit_emulator|unit_settings|unit_imaging|integration|multiprocess|tools_programs|unit_sane|sane_programs|unload|unit_escl|escl_programs\.(Protocol\.(One|AJob)|Hostile|Network\.(RefusedAddresses|AHeaderSent)|ScannerState\.(Listens|AnUnplugged|Sigterm))'
tsan_targets=(unit_platform unit_transport unit_api unit_emulator unit_emulator_link unit_settings
  unit_imaging integration integration_scan multiprocess_status_block status_client
  multiprocess_daemon daemon_client multiprocess_lamp_state multiprocess_scan scan_client
  multiprocess_soak soak_client tools_programs qrxscan qrx7730-sim unit_sane sane_programs
  sane-qrx7730 unload qrx7730 unit_escl escl_programs qrx7730-escl)
phase "tsan: configure and build"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQRX7730_SANITIZE_THREAD=ON \
  -DQRX7730_BUILD_BENCHMARKS=OFF -DQRX7730_WINE_TESTS=OFF
cmake --build build-tsan -j"$jobs" --target "${tsan_targets[@]}"
# A test program missing from the list would leave its tests out unseen: CTest
# names such a program's tests *_NOT_BUILT.
if ctest --test-dir build-tsan -N -R "$tsan_tests" | grep NOT_BUILT; then
  echo "tsan: the tests above are selected but their program is not in tsan_targets"
  exit 1
fi
# The whole-scan fidelity cases (the chart, the unequal pairings, film) check
# images, not threads: the reader, the ring and the stops are exercised by the
# other scan tests, so they are left out here.
phase "tsan: tests"
TSAN_OPTIONS=halt_on_error=1 QRX_SOAK_SPEED=10 run_ctest build-tsan -j"$tsan_test_jobs" \
  -R "$tsan_tests" -E 'ChartFidelity|FidelityTest|FilmFidelity|EveryPairing|PairFidelity'

# Each libFuzzer target for 10 s (two at a time) from its seed corpus, built with
# clang (about three minutes with the build); scripts/fuzz.sh runs them longer.
phase "fuzz: build and run"
bash scripts/fuzz.sh --seconds 10 --jobs 2

phase_end
echo "All tests passed."
