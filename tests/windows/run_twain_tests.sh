#!/usr/bin/env bash
# Runs the TWAIN data source's session test under Wine, in the Windows build and
# Wine prefix that run_wine_tests.sh made (CTest runs that first), then its dialog
# test on a virtual X display, leaving the dialog's screenshot in the build tree
# (tests/windows/twain-dialog.png, or .bmp without ImageMagick).
#
#   run_twain_tests.sh <windows build directory>
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <windows build directory>" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
test_dir=$build/tests/windows
program=twain_session_test.exe
for file in "$test_dir/$program" "$test_dir/QRX7730.ds" "$test_dir/QRX7730L.DLL" \
  "$build/twain/QRX7730.ds"; do
  [ -f "$file" ] || { echo "FAIL: $file is missing: the Windows build has not run" >&2; exit 1; }
done
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || { echo "FAIL: no Wine prefix at $WINEPREFIX" >&2; exit 1; }

failed=()
status=0
(cd "$test_dir" && timeout 600 wine "$program") || status=$?
[ "$status" -eq 0 ] || failed+=("$program (status $status)")

# The dialog needs a display: a virtual one of its own, and a Wine started
# afresh on it (a server still running from the run before has no display).
timeout 60 wineserver --wait || true
shot=$test_dir/twain-dialog.bmp
rm -f "$shot" "$test_dir/twain-dialog.png"
status=0
(cd "$test_dir" && timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" \
  wine "$program" --dialog twain-dialog.bmp) || status=$?
if [ "$status" -ne 0 ]; then
  failed+=("$program --dialog (status $status)")
elif command -v convert >/dev/null && convert "$shot" "$test_dir/twain-dialog.png"; then
  echo "The dialog's screenshot: $test_dir/twain-dialog.png"
fi
timeout 60 wineserver --wait || true
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAIL: ${failed[*]}" >&2
  exit 1
fi
echo "TWAIN data source tests passed"
