#!/usr/bin/env bash
# The Windows installer and driver package under Wine, in one fresh Wine prefix:
#
#  1. the driver package's INF read against the package folder (check_inf.py);
#  2. the installer run silently (/S /DEVICE=sim:): the files in System32, the install
#     directory and Windows\twain_64, the registry values in their views, the entry
#     of "Apps & features"; run again (an update); the installed qrxscan.exe, started from elsewhere, finds
#     the library in System32 and its data file through InstallDirectory and scans;
#     the installed TWAIN data source scans the chart through the test program of
#     the data source, when the build has both (said when skipped);
#  3. the uninstaller run silently: the prefix is as it was before (files and
#     registry compared with a snapshot);
#  4. the INF's DefaultInstall applied with Wine's SetupAPI (rundll32 setupapi.dll,
#     InstallHinfSection), qrxscan.exe scanning through what it placed, then
#     DefaultUninstall taking it away again.
#
#   run_installer_test.sh <windows build directory> <USB vendor id> <USB product id>
#
# The Windows build is configured and built as run_wine_tests.sh does (CTest runs
# that test first, so this finds it built). The prefix is made anew inside the build
# directory on every run.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 <windows build directory> <USB vendor id> <USB product id>" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
vendor=$2
product=$3
jobs=${QRX_BUILD_JOBS:-2}
snapshot="python3 $here/prefix_snapshot.py"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$source_dir" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake"
else
  cmake -S "$source_dir" -B "$build" >/dev/null
fi
cmake --build "$build" -j"$jobs"

package=$build/windows/package
installer=$(ls "$build"/windows/qrx7730-setup-*.exe 2>/dev/null | head -n1 || true)
[ -n "$installer" ] || { echo "FAIL: the build made no installer (is makensis installed?)" >&2; exit 1; }
[ -f "$package/qrx7730.inf" ] || { echo "FAIL: the build made no driver package" >&2; exit 1; }
have_source=0
[ -f "$package/QRX7730.ds" ] && have_source=1
session_test=$(find "$build" -name twain_session_test.exe -print -quit 2>/dev/null || true)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# 1. The INF against the package.
echo "== the driver package's INF"
python3 "$here/check_inf.py" "$package" "$vendor" "$product" || fail "the INF does not match its package"

# A fresh prefix of its own.
export WINEPREFIX=$build/wineprefix-installer
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset QRX7730_DEVICE
rm -rf "$WINEPREFIX"
echo "== a fresh Wine prefix $WINEPREFIX"
timeout 900 wineboot --init >/dev/null 2>&1 || true
timeout 300 wineserver --wait || true
[ -f "$WINEPREFIX/system.reg" ] || fail "wineboot did not create $WINEPREFIX"
drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/Quarn/QRX7730"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
$snapshot take "$WINEPREFIX" "$work/before"

# reg query's value of a name, or empty: <view 32|64> <key> <name>
reg_value() {
  { wine reg query "$2" /v "$3" /reg:"$1" 2>/dev/null || true; } |
    sed -n "s/^ *$3 *REG_[A-Z_]* *//p" | tr -d '\r'
}
device_key='HKLM\SOFTWARE\Quarn\Imagent\Devices\QRX7730'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QRX7730'

# A small scan by the qrxscan.exe at <path>, run from a folder without the library:
# 20 x 10 mm at 75 dpi is 59 x 29 pixels (20 / 25.4 x 75 = 59.06, 10 / 25.4 x 75 = 29.5).
scan_with() {
  local program=$1 out=$2
  (cd "$work" && QRX7730_SIM=speed=50 timeout 300 wine "$program" --device sim: \
    --resolution 75 --mode Gray -l 10 -t 10 -x 20 -y 10 --no-progress -o "$out") ||
    fail "$program could not scan"
  local header
  header=$(head -c 20 "$work/$out" | head -n 2 | tr '\n' ' ')
  [ "$header" = "P5 59 29 " ] || fail "$program wrote '$header', not a 59 x 29 grey PNM"
  echo "$program scanned 59 x 29 pixels at 75 dpi"
}

# The installed data source scans, when the build has it and its session test
# program: a copy of the program alone, so that only installed files serve it, with
# the device from the DevicePath value the installer wrote.
twain_session() {
  if [ "$have_source" -eq 1 ] && [ -n "$session_test" ]; then
    cp "$session_test" "$work/"
    (cd "$work" && QRX7730_SIM=speed=50 timeout 600 wine twain_session_test.exe \
      --ds 'C:\windows\twain_64\QRX7730.ds') || fail "the installed data source did not scan"
    rm -f "$work/twain_session_test.exe"
    echo "the installed data source scanned through C:\\windows\\twain_64\\QRX7730.ds"
  else
    echo "SKIP: the installed data source's scan (the build has" \
      "$([ "$have_source" -eq 1 ] && echo "no twain_session_test.exe" || echo "no QRX7730.ds"))"
  fi
}

# 2 and 3. One round of installing, checking, updating, scanning and uninstalling:
#   install_round <folder in Windows form> <device path expected> <install options...>
# The folder's option (/D=...) comes last, as the installer wants it. With a device
# path, the installed data source's session runs too.
install_round() {
  local folder=$1 expected_device=$2
  shift 2
  local unix_folder
  unix_folder=$(winepath -u "$folder" | sed 's:/*$::')
  echo "== the installer $(basename "$installer") $*"
  local status=0
  timeout 300 wine "$installer" "$@" || status=$?
  timeout 60 wineserver --wait || true
  [ "$status" -eq 0 ] || fail "the installer exited with $status"
  cmp "$package/QRX7730L.DLL" "$drive_c/windows/system32/QRX7730L.DLL" ||
    fail "no QRX7730L.DLL in System32"
  for file in QRX7730N.dat qrxscan.exe uninstall.exe driver/qrx7730.inf driver/QRX7730L.DLL \
    driver/QRX7730N.dat; do
    [ -f "$unix_folder/$file" ] || fail "the installer did not install $folder\\$file"
  done
  cmp "$package/QRX7730N.dat" "$unix_folder/QRX7730N.dat" || fail "the installed data file differs"
  if [ "$have_source" -eq 1 ]; then
    cmp "$package/QRX7730.ds" "$drive_c/windows/twain_64/QRX7730.ds" ||
      fail "no QRX7730.ds in Windows\\twain_64"
    [ -f "$unix_folder/driver/QRX7730.ds" ] || fail "the driver package lacks QRX7730.ds"
  fi
  value=$(reg_value 32 "$device_key" InstallDirectory)
  [ "$value" = "$folder\\" ] || fail "InstallDirectory (32-bit view) is '$value', not '$folder\\'"
  value=$(reg_value 64 "$uninstall_key" UninstallString)
  [ "$value" = "\"$folder\\uninstall.exe\"" ] || fail "UninstallString is '$value'"
  [ -n "$(reg_value 64 "$uninstall_key" DisplayName)" ] || fail "no DisplayName in the uninstall entry"
  local device
  device=$(reg_value 64 "$device_key" DevicePath)
  [ "$device" = "$expected_device" ] ||
    fail "DevicePath (64-bit view) is '$device', not '$expected_device'"
  echo "installed: System32\\QRX7730L.DLL, $(cd "$unix_folder" && find . -type f | sort | tr '\n' ' ')"
  echo "registry: InstallDirectory=$folder\\ (32-bit view), DevicePath='$device' (64-bit view)," \
    "the uninstall entry"

  # Installing again, without options, updates the installation where it is and
  # keeps the device path.
  status=0
  timeout 300 wine "$installer" /S || status=$?
  timeout 60 wineserver --wait || true
  [ "$status" -eq 0 ] || fail "the installer, run again, exited with $status"
  value=$(reg_value 64 "$uninstall_key" InstallLocation)
  [ "$value" = "$folder" ] || fail "installing again moved the installation to '$value'"
  value=$(reg_value 64 "$device_key" DevicePath)
  [ "$value" = "$device" ] || fail "installing again made DevicePath '$value', not '$device'"
  echo "installed again over the first installation, in $folder"

  # The data file is only in the install folder, not beside the library: a scan
  # proves the library found it through InstallDirectory.
  scan_with "$folder\\qrxscan.exe" installed.pnm
  [ -z "$device" ] || twain_session

  # The uninstaller, silently; it finishes from a copy of itself in the temporary
  # folder, so wait for the prefix's processes to end.
  status=0
  timeout 300 wine "$folder\\uninstall.exe" /S || status=$?
  timeout 120 wineserver --wait || true
  [ "$status" -eq 0 ] || fail "the uninstaller exited with $status"
  rm -f "$work"/*.pnm
  $snapshot take "$WINEPREFIX" "$work/uninstalled"
  # The one trace allowed: the uninstaller's own copy in the temporary folder, which
  # it asks Windows to delete at the next start.
  $snapshot compare "$work/before" "$work/uninstalled" \
    --allow 'PendingFileRenameOperations.*~nsu[0-9]*\.tmp' ||
    fail "the uninstaller left the lines above behind"
  echo "uninstalled: the prefix is as before the installation"
}

# The default folder, with the emulated scanner as the data source's device.
install_round 'C:\Program Files\Quarn\QRX7730' sim: /S /DEVICE=sim:
# A folder of the user's choice, two levels new, and no device path written.
install_round 'C:\Scanners\QRX7730' '' /S '/D=C:\Scanners\QRX7730'

# 4. The INF's DefaultInstall and DefaultUninstall under Wine's SetupAPI.
echo "== the INF's DefaultInstall"
inf=$(winepath -w "$package/qrx7730.inf")
timeout 120 wine rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 "$inf" ||
  fail "DefaultInstall failed"
timeout 60 wineserver --wait || true
cmp "$package/QRX7730L.DLL" "$drive_c/windows/system32/QRX7730L.DLL" ||
  fail "DefaultInstall put no QRX7730L.DLL in System32"
cmp "$package/QRX7730N.dat" "$install_dir/QRX7730N.dat" ||
  fail "DefaultInstall put no QRX7730N.dat in Program Files\\Quarn\\QRX7730"
if [ "$have_source" -eq 1 ]; then
  cmp "$package/QRX7730.ds" "$drive_c/windows/twain_64/QRX7730.ds" ||
    fail "DefaultInstall put no QRX7730.ds in Windows\\twain_64"
fi
value=$(reg_value 32 "$device_key" InstallDirectory)
[ "$value" = 'C:\Program Files\Quarn\QRX7730\' ] ||
  fail "DefaultInstall wrote InstallDirectory (32-bit view) '$value'"
echo "DefaultInstall placed the files and InstallDirectory=$value"
# qrxscan.exe from the build, alone in a folder: the library and data file it
# uses are the ones the INF placed.
cp "$build/windows/qrxscan.exe" "$work/qrxscan.exe"
scan_with "$(winepath -w "$work/qrxscan.exe")" inf.pnm

echo "== the INF's DefaultUninstall"
timeout 120 wine rundll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 128 "$inf" ||
  fail "DefaultUninstall failed"
timeout 60 wineserver --wait || true
rm -f "$work/qrxscan.exe" "$work"/*.pnm
$snapshot take "$WINEPREFIX" "$work/inf-uninstalled"
# An INF removes files and values but no folders: the empty folder and keys stay.
# (Wine carries out the uninstaller's pending deletion when a program next starts.)
$snapshot compare "$work/uninstalled" "$work/inf-uninstalled" \
  --allow 'PendingFileRenameOperations.*~nsu[0-9]*\.tmp' \
  --allow '^dir Program Files/Quarn(/QRX7730)?$' \
  --allow '^key HKLM\\Software\\Wow6432Node\\Quarn(\\Imagent(\\Devices)?)?$' ||
  fail "DefaultUninstall left the lines above behind"
echo "DefaultUninstall took the files and values away (empty folders and keys stay)"
timeout 60 wineserver --wait || true
echo "Installer and driver package tests passed under $(wine --version 2>/dev/null)"
