#!/usr/bin/env bash
# lintian over the built Debian packages: fails on any error, and on any warning
# the packages' lintian overrides do not explain.
#   lintian_check.sh [PACKAGE DIR]   (build/packages by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pkgdir=${1:-$here/../../build/packages}
command -v lintian > /dev/null || { echo "SKIP: lintian is not installed"; exit 77; }
shopt -s nullglob
debs=("$pkgdir"/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "SKIP: no packages in $pkgdir: build them first (scripts/build_packages.sh)"; exit 77; }
lintian --fail-on error,warning --display-info --tag-display-limit 0 "${debs[@]}"
echo "lintian: no errors or warnings in ${#debs[@]} packages"
