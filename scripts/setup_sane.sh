#!/usr/bin/env bash
# Installs what the SANE backend is built and tested with: the SANE API header
# (libsane-dev), scanimage and saned (sane-utils), the dll meta-backend
# libsane.so.1 and the net backend (libsane1), and nothing else of SANE; and the
# generic eSCL client backend airscan (sane-airscan), which scans from any
# network scanner that speaks eSCL and so tests the network scanner server. The
# scanner backends that SANE's packages bundle are kept off the machine by a dpkg
# path filter written before anything is unpacked; afterwards the SANE backend
# directories are checked: only net (and ours, once installed) may be there.
# Runs as root, or through sudo for another user.
set -euo pipefail

packages=(sane-utils libsane-dev sane-airscan)
filter=/etc/dpkg/dpkg.cfg.d/qrx7730-no-sane-backends
run=()
[ "$(id -u)" -ne 0 ] && run=(sudo)

# The filter: dpkg applies the last matching rule, so each exclusion comes before
# what it lets back in. The patterns match every multiarch library directory.
#  - /usr/lib/*/sane/: the scanner backends of libsane1 and their static and
#    development forms in libsane-dev; only the net backend's shared library is
#    let back in, and the generic eSCL client's (sane-airscan's own package).
#  - /usr/lib/*/libsane.a: libsane-dev's static library with the backends linked in
#    (the dll meta-backend libsane.so.1 of libsane1 is kept: front ends load it).
#  - /usr/bin/umax_pp: sane-utils' tool for one particular scanner.
#  - /etc/sane.d/*.conf and the section 5 manual pages: the bundled backends'
#    configuration and documentation; dll.conf, net.conf and saned.conf are what
#    the generic programs read.
#  - Our own backend's files (the libsane-qrx7730 package) are let back in.
filter_text='# Written by qrx7730 scripts/setup_sane.sh: SANE without its scanner backends.
path-exclude=/usr/lib/*/sane/*
path-include=/usr/lib/*/sane/libsane-net.so.*
path-include=/usr/lib/*/sane/libsane-airscan.so.*
path-exclude=/usr/lib/*/libsane.a
path-exclude=/usr/bin/umax_pp
path-exclude=/etc/sane.d/*.conf
path-include=/etc/sane.d/dll.conf
path-include=/etc/sane.d/net.conf
path-include=/etc/sane.d/saned.conf
path-exclude=/usr/share/man/man5/sane-*
path-include=/usr/share/man/man5/sane-dll.5*
path-include=/usr/share/man/man5/sane-net.5*
path-include=/usr/lib/*/sane/libsane-qrx7730.so.*
path-include=/etc/sane.d/qrx7730.conf
path-include=/usr/share/man/man5/sane-qrx7730.5*'

if [ ! -f "$filter" ] || [ "$(cat "$filter")" != "$filter_text" ]; then
  printf '%s\n' "$filter_text" | "${run[@]}" tee "$filter" > /dev/null
fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The SANE library files on the machine: backend libraries in any sane/ directory
# of a library path, and static archives of libsane; files and links that lead to
# a file. (dpkg's filter does not apply to symbolic links: the bundled backends'
# links stay behind, pointing at nothing.)
sane_backend_files() {
  find /usr/lib /usr/lib64 /usr/local/lib /lib -path '*/sane/libsane-*' \( -type f -o -xtype f \) \
    2>/dev/null || true
  find /usr/lib /usr/local/lib -name 'libsane.a' \( -type f -o -xtype f \) 2>/dev/null || true
}

# Everything but net, airscan and qrx7730 is a backend that must not be here.
foreign_backends() {
  sane_backend_files | grep -v -E '/sane/libsane-(net|airscan|qrx7730)\.so(\.[0-9.]+)?$' || true
}

missing=()
for package in "${packages[@]}"; do installed "$package" || missing+=("$package"); done
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing without SANE's scanner backends: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${run[@]}" apt-get update
  # No recommends: they bring further backends and USB daemons (ipp-usb).
  "${run[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
elif [ -n "$(foreign_backends)" ]; then
  # Installed before the filter existed: unpacking again under the filter
  # removes what it excludes.
  echo "Reinstalling SANE under the backend filter"
  export DEBIAN_FRONTEND=noninteractive
  "${run[@]}" apt-get install -y --no-install-recommends --reinstall libsane1 libsane-dev sane-utils \
    sane-airscan
fi

# The check.
foreign=$(foreign_backends)
if [ -n "$foreign" ]; then
  echo "setup_sane.sh: SANE scanner backends are installed, which this project must not have:" >&2
  echo "$foreign" >&2
  exit 1
fi
[ -f /usr/include/sane/sane.h ] || { echo "setup_sane.sh: no /usr/include/sane/sane.h" >&2; exit 1; }
net=$(sane_backend_files | grep -E '/sane/libsane-net\.so\.[0-9]' | head -n 1)
[ -n "$net" ] || { echo "setup_sane.sh: the net backend is missing" >&2; exit 1; }
airscan=$(sane_backend_files | grep -E '/sane/libsane-airscan\.so\.[0-9]' | head -n 1)
[ -n "$airscan" ] || { echo "setup_sane.sh: the airscan backend is missing" >&2; exit 1; }
for program in scanimage saned; do
  command -v "$program" > /dev/null || [ -x "/usr/sbin/$program" ] \
    || { echo "setup_sane.sh: $program is missing" >&2; exit 1; }
done
[ ! -e /usr/bin/umax_pp ] || { echo "setup_sane.sh: /usr/bin/umax_pp is installed" >&2; exit 1; }
exit 0
