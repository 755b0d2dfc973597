#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as a stranger would: the
# layout (versioned library and links, SONAME, header with the configured USB ids,
# data file in share/qrx7730, programs, man pages, pkg-config and CMake files), a C
# host built outside the tree once with pkg-config and once with find_package and
# run against the emulated scanner with nothing but the prefix (no
# QRX7730_INSTALL_DIR, no LD_LIBRARY_PATH), the installed programs, and the SANE
# backend under scanimage.
#   install_test.sh <build dir> <consumer source dir> <cmake> <version> <vendor id> <product id> <libdir>
set -euo pipefail
build=$1 consumer=$2 cmake=$3 version=$4 vendor=$5 product=$6 libdir=$7
major=${version%%.*}

work=$(mktemp -d /tmp/qrx-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log" >&2; fail "cmake --install"; }

# Layout.
lib=$prefix/$libdir
[ -f "$lib/libqrx7730.so.$version" ] || fail "no $libdir/libqrx7730.so.$version"
[ "$(readlink "$lib/libqrx7730.so.$major")" = "libqrx7730.so.$version" ] || fail "libqrx7730.so.$major link"
[ "$(readlink "$lib/libqrx7730.so")" = "libqrx7730.so.$major" ] || fail "libqrx7730.so link"
soname=$(objdump -p "$lib/libqrx7730.so.$version" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = "libqrx7730.so.$major" ] || fail "SONAME is '$soname'"
[ -f "$prefix/share/qrx7730/QRX7730N.dat" ] || fail "no share/qrx7730/QRX7730N.dat"
[ ! -e "$lib/QRX7730N.dat" ] || fail "a data file in $libdir"
grep -q "^#define QRX7730_USB_VENDOR_ID $vendor\$" "$prefix/include/qrx7730.h" || fail "header vendor id is not $vendor"
grep -q "^#define QRX7730_USB_PRODUCT_ID $product\$" "$prefix/include/qrx7730.h" || fail "header product id is not $product"
[ -f "$prefix/share/man/man3/qrx7730.3" ] || fail "no man page qrx7730(3)"
for program in qrxscan qrx7730-sim; do
  [ -x "$prefix/bin/$program" ] || fail "no bin/$program"
  [ -f "$prefix/share/man/man1/$program.1" ] || fail "no man page of $program"
done

# The environment of a stranger: nothing of the build tree.
clean_env=(env -i PATH=/usr/bin:/bin HOME="$work" TMPDIR="$work")
device="sim:#install-test-$$"

# A host built with pkg-config, run with the prefix's rpath only.
export PKG_CONFIG_PATH=$lib/pkgconfig
[ "$(pkg-config --modversion qrx7730)" = "$version" ] || fail "pkg-config version"
cc -Wall -Werror -o "$work/consumer-pc" "$consumer/consumer.c" $(pkg-config --cflags --libs qrx7730) \
  -Wl,-rpath,"$(pkg-config --variable=libdir qrx7730)"
"${clean_env[@]}" "$work/consumer-pc" "$device" | tee "$work/pc.out"
grep -q "^opened $device: QUARN, interface version 2" "$work/pc.out" || fail "pkg-config host"

# A host built with find_package (CMake puts the imported library's directory in
# the build rpath).
"$cmake" -S "$consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" > "$work/cmake.log" \
  || { cat "$work/cmake.log" >&2; fail "find_package(qrx7730)"; }
"$cmake" --build "$work/consumer-build" > "$work/cmake-build.log" || { cat "$work/cmake-build.log" >&2; fail "CMake host build"; }
"${clean_env[@]}" "$work/consumer-build/consumer" "$device" | tee "$work/cmake.out"
grep -q "^opened $device: QUARN" "$work/cmake.out" || fail "CMake host"

# The installed programs find the installed library and its data file. (Their
# output goes to files first: grep -q leaving a pipe early would fail them.)
"${clean_env[@]}" "$prefix/bin/qrxscan" --version > "$work/version.out"
grep -q "^qrxscan $version " "$work/version.out" || fail "qrxscan --version"
"${clean_env[@]}" "$prefix/bin/qrxscan" -d "$device" info > "$work/info.out"
grep -q "model: *RV-70413K" "$work/info.out" || fail "qrxscan info"
"${clean_env[@]}" "$prefix/bin/qrx7730-sim" --version > "$work/sim.out"
grep -q "^qrx7730-sim $version$" "$work/sim.out" || fail "qrx7730-sim --version"

# The SANE backend, when the build has one: in the prefix's lib/sane/ with the
# name SANE's dll backend loads, its configuration and the dll backend's entry in
# etc/sane.d/; scanimage finds it through them alone and opens the emulated
# scanner (the backend finds the library relative to itself).
if [ -e "$build/sane/libsane-qrx7730.so.1" ]; then
  sane_lib=$lib/sane
  [ -f "$sane_lib/libsane-qrx7730.so.1.0.0" ] || fail "no $libdir/sane/libsane-qrx7730.so.1.0.0"
  [ "$(readlink "$sane_lib/libsane-qrx7730.so.1")" = "libsane-qrx7730.so.1.0.0" ] || fail "libsane-qrx7730.so.1 link"
  [ ! -e "$sane_lib/libsane-qrx7730.so" ] || fail "a development link to the backend"
  grep -q "^usb$" "$prefix/etc/sane.d/qrx7730.conf" || fail "etc/sane.d/qrx7730.conf"
  [ "$(cat "$prefix/etc/sane.d/dll.d/qrx7730")" = "qrx7730" ] || fail "etc/sane.d/dll.d/qrx7730"
  if command -v scanimage > /dev/null; then
    "${clean_env[@]}" SANE_CONFIG_DIR="$prefix/etc/sane.d" LD_LIBRARY_PATH="$sane_lib" \
      scanimage -d "qrx7730:$device" -A > "$work/sane.out" 2> "$work/sane.err" \
      || { cat "$work/sane.err" >&2; fail "scanimage on the installed backend"; }
    grep -q -- "--resolution 75|150|300|600|1200|2400|4800dpi" "$work/sane.out" || fail "scanimage -A"
    # Its manual page describes every option scanimage shows (roff writes a dash as \-).
    page=$prefix/share/man/man5/sane-qrx7730.5
    [ -f "$page" ] || fail "no man page sane-qrx7730(5)"
    sed 's/\\-/-/g' "$page" > "$work/sane-page.txt"
    for option in $(grep -o -- '^    --[a-z][a-z-]*' "$work/sane.out" | sort -u); do
      grep -q -- "$option" "$work/sane-page.txt" || fail "sane-qrx7730(5) does not describe $option"
    done
  fi
  # The configuration shows how to list a daemon's scanner.
  grep -q "^#sim:/" "$prefix/etc/sane.d/qrx7730.conf" || fail "no daemon example in qrx7730.conf"
fi

# It was share/qrx7730 that held the data file: without it the host cannot open.
rm "$prefix/share/qrx7730/QRX7730N.dat"
if "${clean_env[@]}" "$work/consumer-pc" "$device" > "$work/nodata.out"; then fail "opened without a data file"; fi
grep -q "FindScannerEx failed: 0xFC07" "$work/nodata.out" || fail "no data file gave $(cat "$work/nodata.out")"

echo "install test passed: $prefix"
