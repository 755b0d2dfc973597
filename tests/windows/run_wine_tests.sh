#!/usr/bin/env bash
# Builds the Windows build with mingw-w64 into a build directory exactly as the
# README documents it (configured once, reused and brought up to date on later
# runs; every target: QRX7730L.DLL, qrxscan.exe and the Windows test programs
# among them), checks the DLL's export table, sections and imports,
# and runs the test programs and qrxscan.exe under Wine.
#
#   run_wine_tests.sh <build directory>
#
# Wine runs in a prefix of its own inside the build directory, so that ~/.wine is
# never touched and the run works for root in CI. The first run creates the
# prefix, which takes a while.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <build directory>" >&2
  exit 2
fi
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
triple=x86_64-w64-mingw32
objdump=${triple}-objdump
jobs=${QRX_BUILD_JOBS:-2}

source "$source_dir/tests/exports/export_list.sh"

# 1. The cross build: the README's two commands, the configuration with nothing
# but the toolchain file and the build of every target, so that whatever that
# build cannot make fails here too.
# Configured afresh each time (cheap once the cache exists), so that targets added
# to the sources since the last run are known before they are asked for.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$source_dir" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake"
else
  cmake -S "$source_dir" -B "$build" >/dev/null
fi
cmake --build "$build" -j"$jobs"
test_dir=$build/tests/windows
dll=$test_dir/QRX7730L.DLL
qrxscan=$build/tools/qrxscan/qrxscan.exe
programs=(qrx7730_win_platform_test.exe qrx7730_wine_test.exe qrx7730_wine_scan_test.exe)
for file in "$dll" "$test_dir/QRX7730N.dat" "${programs[@]/#/$test_dir/}" "$qrxscan" \
  "$build/src/QRX7730L.DLL" "$build/src/QRX7730N.dat"; do
  [ -f "$file" ] || { echo "FAIL: the build did not produce $file" >&2; exit 1; }
done

# 2. Exports: exactly the 32 undecorated names.
expected=$(expected_exports "$source_dir/tests/exports/expected_exports.txt" \
  "$source_dir/include/qrx7730.h")
actual=$("$objdump" -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
compare_exports "QRX7730L.DLL" "$expected" "$actual"

# 3. The 16-byte .shared section, marked shared, and no mingw runtime DLL to find.
shared=$("$objdump" -h "$dll" | awk '$2 == ".shared" { size = $3; getline; print size, $0 }')
if [ -z "$shared" ] || ! grep -q 'SHARED' <<<"$shared" || [ $((16#${shared%% *})) -lt 16 ]; then
  echo "FAIL: QRX7730L.DLL has no shared .shared section of 16 bytes: '$shared'" >&2
  exit 1
fi
echo "QRX7730L.DLL has a .shared section of $((16#${shared%% *})) bytes, flagged SHARED"
imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for name in $imports; do
  case "$name" in
    kernel32.dll | advapi32.dll | msvcrt.dll | user32.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
    *) echo "FAIL: QRX7730L.DLL needs $name, which Wine will not find beside it" >&2; exit 1 ;;
  esac
done
echo "QRX7730L.DLL imports only system DLLs: $(echo $imports)"

# 4. The test programs under Wine.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko installers: the test needs neither, and they cannot be shown here.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (the first time takes a while)"
  timeout 900 wineboot --init >/dev/null 2>&1 || true
  timeout 300 wineserver --wait || true
  [ -f "$WINEPREFIX/system.reg" ] || { echo "FAIL: wineboot did not create $WINEPREFIX" >&2; exit 1; }
fi
failed=()
for program in "${programs[@]}"; do
  status=0
  (cd "$test_dir" && timeout 600 wine "$program") || status=$?
  [ "$status" -eq 0 ] || failed+=("$program (status $status)")
done
# qrxscan.exe, run in the directory of the DLL and its data file (where Windows
# looks for a DLL after the program's own), reports the emulated scanner's
# abilities through the DLL's exports.
status=0
info=$(cd "$test_dir" && timeout 300 wine "$qrxscan" --device sim: info 2>&1) || status=$?
if [ "$status" -ne 0 ] || ! grep -q 'optical: *2400 dpi' <<<"$info"; then
  failed+=("qrxscan.exe --device sim: info (status $status): $info")
else
  echo "qrxscan.exe reports the emulated scanner: $(grep -m1 'optical' <<<"$info" | tr -s ' ')"
fi
# qrxscan.exe writes over an image of the same name: a scan 10 mm wide, then one 20
# mm wide into the same file, which must hold the second (at 75 dpi 20 x 10 mm is
# 59 x 29 pixels: 20 / 25.4 x 75 = 59.06, 10 / 25.4 x 75 = 29.5).
rm -f "$test_dir/twice.pnm"
status=0
for width in 10 20; do
  (cd "$test_dir" && QRX7730_SIM=speed=50 timeout 300 wine "$qrxscan" --device sim: \
    --resolution 75 --mode Gray -l 10 -t 10 -x "$width" -y 10 --no-progress -o twice.pnm) \
    > /dev/null 2>&1 || status=$?
done
header=$(head -c 20 "$test_dir/twice.pnm" 2>/dev/null | head -n 2 | tr '\n' ' ')
if [ "$status" -ne 0 ] || [ "$header" != "P5 59 29 " ]; then
  failed+=("qrxscan.exe over an existing image (status $status, header '$header')")
else
  echo "qrxscan.exe replaced an image of the same name with a new scan"
fi
# Let this prefix's server finish before the build directory is used again.
timeout 60 wineserver --wait || true
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAIL: ${failed[*]}" >&2
  exit 1
fi
echo "Windows tests passed under $(wine --version 2>/dev/null)"
