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
# install into a temporary prefix, the Windows DLL under Wine, the whole suite
# again under the address/undefined-behaviour and thread sanitizers, and each
# fuzz target for a short time.
# Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup_packages.sh \
  ca-certificates cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev \
  g++-mingw-w64-x86-64-posix wine wine64 binutils libwine-dev xvfb xauth imagemagick \
  pkg-config zlib1g-dev libpng-dev libtiff-dev libjpeg-dev \
  libusb-1.0-0-dev libumockdev-dev umockdev clang libclang-rt-14-dev \
  libmicrohttpd-dev libpugixml-dev libavahi-client-dev \
  curl openssl python3 bc iproute2 util-linux dbus-daemon avahi-daemon avahi-utils \
  chromium chromium-driver
# The SANE API header, scanimage, saned and the net backend, without SANE's
# scanner backends (checked).
bash scripts/setup_sane.sh

jobs=$(nproc)

# The main build: every test, including the Windows build as the README documents
# it (every target, in build/windows-build) and its programs under Wine.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# Address and undefined-behaviour sanitizers (the Windows build is not rebuilt).
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQRX7730_SANITIZE=ON \
  -DQRX7730_BUILD_BENCHMARKS=OFF -DQRX7730_WINE_TESTS=OFF
cmake --build build-asan -j"$jobs"
# The soak at half its speed: the sanitizers slow its processes down.
# The network scanner server's client and failure tests (sane-airscan, Chromium,
# avahi, a lost scanner) check what clients see, not memory: its protocol tests
# (whole jobs, cancels, vanished clients) and hostile-request tests run here.
# The square-resolution chart scans at 150, 300 and 600 dpi read through the same
# paths as the unequal pairings at those resolutions, which run here; the chart at
# 75 and from 1200 dpi (segmented reads) runs in every depth.
ASAN_OPTIONS=detect_leaks=1 QRX_SOAK_SPEED=10 ctest --test-dir build-asan --output-on-failure -j"$jobs" \
  -E 'escl_programs\.(Airscan|Failures|web_page|mdns)|ChartFidelity\.TheChartComesBackWhereItLies/(150|300|600)dpi'

# Thread sanitizer over the code with threads: platform, transport, emulator and
# its socket link, the tuning record read from many threads, api, the image ring
# and reader thread, the background calibration (integration), the multi-process
# tests and the soak (the daemon's client threads), the programs (the daemon,
# qrxscan's wait notices), the SANE backend (its scan thread), the network
# scanner server (its connection and scan threads and the pipe between them, in
# cancels and vanished clients) and the library unloaded with its threads running.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQRX7730_SANITIZE_THREAD=ON \
  -DQRX7730_BUILD_BENCHMARKS=OFF -DQRX7730_WINE_TESTS=OFF
cmake --build build-tsan -j"$jobs"
# The whole-scan fidelity cases (the chart, the unequal pairings, film) check
# images, not threads: the reader, the ring and the stops are exercised by the
# other scan tests, so they are left out here.
TSAN_OPTIONS=halt_on_error=1 QRX_SOAK_SPEED=10 ctest --test-dir build-tsan --output-on-failure -j"$jobs" \
  -R 'unit_platform|unit_transport|unit_api|unit_emulator|unit_settings|unit_imaging|integration|multiprocess|tools_programs|unit_sane|sane_programs|unload|unit_escl|escl_programs\.(Protocol\.(One|AJob)|Hostile)' \
  -E 'ChartFidelity|FidelityTest|FilmFidelity|EveryPairing|PairFidelity'

# Each libFuzzer target for 10 s (two at a time) from its seed corpus, built with
# clang (about three minutes with the build); scripts/fuzz.sh runs them longer.
bash scripts/fuzz.sh --seconds 10 --jobs 2

echo "All tests passed."
