#!/usr/bin/env bash
# Builds the Debian binary packages (libqrx7730-0, libqrx7730-dev,
# libsane-qrx7730, qrx7730-escl, qrx7730-tools) from the release build in build/
# and writes the .deb files to OUTDIR (build/packages by default). On a clean
# tree the release build is configured and built first; where it is built
# already (the test run), it is used as it is. debian/ is copied into a staging
# tree under the build, so the source tree is left as it was.
#   scripts/build_packages.sh [OUTDIR]
# Environment: QRX_BUILD_DIR (the release build, build/ by default),
# DEB_BUILD_OPTIONS (by default: no debug-symbol packages, every processor).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${QRX_BUILD_DIR:-$src/build}
out=${1:-$build/packages}
fail() { echo "build_packages: $*" >&2; exit 1; }

for tool in dpkg-buildpackage dpkg-parsechangelog dh cmake objdump; do
  command -v "$tool" > /dev/null || fail "$tool is missing (Debian: apt-get install dpkg-dev debhelper cmake binutils)"
done

# The version has one source, project() in CMakeLists.txt; the changelog's
# latest entry must be for it.
version=$(sed -n 's/^project(qrx7730 VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in project() of CMakeLists.txt"
changelog_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
[ "$changelog_version" = "$version" ] ||
  fail "debian/changelog's latest entry is $changelog_version, the project is $version: add an entry (dch -v $version)"

mkdir -p "$out" "$build"
out=$(cd "$out" && pwd)
build=$(cd "$build" && pwd)
stage=$build/debian-staging
rm -rf "$stage"
mkdir -p "$stage/qrx7730-$version"
cp -a debian "$stage/qrx7730-$version/"

export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS-noddebs parallel=$(nproc)}
(cd "$stage/qrx7730-$version" &&
  QRX_SOURCE_DIR=$src QRX_BUILD_DIR=$build dpkg-buildpackage -b -uc -us) > "$stage/build.log" 2>&1 ||
  { tail -n 60 "$stage/build.log" >&2; fail "dpkg-buildpackage failed (whole log: $stage/build.log)"; }

# The library's package is named after its SONAME (libqrx7730.so.N: libqrx7730-N).
soname=$(objdump -p "$build"/src/libqrx7730.so | awk '$1 == "SONAME" { print $2 }')
library_package=libqrx7730-${soname#libqrx7730.so.}
[ -e "$stage/${library_package}_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb" ] ||
  fail "the library's SONAME is $soname but no package $library_package was built: rename it in debian/"

packages=$(sed -n 's/^Package: //p' debian/control)
for package in $packages; do rm -f "$out/${package}_"*.deb "$out/${package}-dbgsym_"*.ddeb; done
mv "$stage"/*.deb "$out"/
mv "$stage"/*.ddeb "$out"/ 2> /dev/null || true
ls -l "$out"
