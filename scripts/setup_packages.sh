#!/usr/bin/env bash
# Installs the Debian packages given as arguments when any of them is missing.
# Runs apt-get as root, or through sudo for another user; does nothing when
# everything is installed already, so a second run is fast.
set -euo pipefail

missing=()
for package in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
run=()
[ "$(id -u)" -ne 0 ] && run=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${run[@]}" apt-get update
"${run[@]}" apt-get install -y "${missing[@]}"
