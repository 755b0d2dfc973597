#!/usr/bin/env bash
# The Debian packages as a user gets them: installed with `apt-get install
# ./*.deb`, then used through what they installed alone (pkg-config; a C host
# built against the installed header and library scanning the in-process
# emulated scanner; scanimage through SANE's dll backend, the installed backend
# and a copy of the installed qrx7730.conf naming a running qrx7730-sim; the
# network server's unit under systemd-analyze verify), then removed and purged:
# nothing the packages installed or their scripts made may be left. The machine
# is put back as it was found (packages, the server's system user, groups,
# files), also when a check fails. It changes the machine, so it runs alone and
# as root; it skips (exit 77) otherwise.
#   install_test.sh [--when-asked] [PACKAGE DIR] [VERSION]   (build/packages by default)
# With --when-asked (as CTest runs it) it skips unless QRX_INSTALL_PACKAGES=1 (as
# the package phase of scripts/test.sh sets it): a `ctest -R` that happens to
# match it does not install packages on a developer's machine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
when_asked=no
[ "${1:-}" = --when-asked ] && { when_asked=yes; shift; }
pkgdir=${1:-$here/../../build/packages}
export LC_ALL=C
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$when_asked" = no ] || [ "${QRX_INSTALL_PACKAGES:-}" = 1 ] ||
  skip "it installs packages on this machine: set QRX_INSTALL_PACKAGES=1 (scripts/test.sh does in its package phase) or run it alone"
[ "$(id -u)" = 0 ] || skip "installing the packages with apt-get needs root (CI runs the tests as root)"
for tool in apt-get dpkg dpkg-deb dpkg-query cc pkg-config scanimage systemd-analyze python3 deluser; do
  command -v "$tool" > /dev/null || skip "$tool is not installed"
done
shopt -s nullglob
[ -d "$pkgdir" ] && pkgdir=$(cd "$pkgdir" && pwd)
debs=("$pkgdir"/*.deb)
[ ${#debs[@]} -gt 0 ] || skip "no packages in $pkgdir: build them first (scripts/build_packages.sh)"
packages=()
for deb in "${debs[@]}"; do packages+=("$(dpkg-deb -f "$deb" Package)"); done
version=${2:-$(dpkg-deb -f "${debs[0]}" Version)}
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2> /dev/null | grep -q '^[ihrtuf]'; then
    skip "$package is already on this machine: the test would take it away"
  fi
done

export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d /tmp/qrx-packages-XXXXXX)
daemon=""
user=qrx7730-escl
state=/var/lib/qrx7730-escl

# What the machine is before: its packages, users and groups, and the files
# under /etc, /usr and /var/lib (less dpkg's and apt's own records and the
# backups of the user database that adduser and deluser refresh).
snapshot() {
  find /etc /usr /var/lib -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt \) -prune -o \
    ! -regex '/etc/\(passwd\|group\|shadow\|gshadow\|subuid\|subgid\)-' -print | sort
}
installed_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 != "un" {print $2}' | sort; }
installed_packages > "$work/packages.before"
snapshot > "$work/files.before"
had_user=no had_group=no had_scanner=no had_state=no
getent passwd "$user" > /dev/null && had_user=yes
getent group "$user" > /dev/null && had_group=yes
getent group scanner > /dev/null && had_scanner=yes
[ -e "$state" ] && had_state=yes

restore() {
  set +e
  [ -n "$daemon" ] && kill "$daemon" 2> /dev/null && wait "$daemon" 2> /dev/null
  # The packages, and whatever apt brought in for them.
  installed_packages > "$work/packages.now"
  mapfile -t added < <(comm -13 "$work/packages.before" "$work/packages.now")
  [ ${#added[@]} -gt 0 ] && dpkg --purge "${added[@]}" > "$work/restore.log" 2>&1
  [ "$had_user" = no ] && getent passwd "$user" > /dev/null && deluser --quiet --system "$user" > /dev/null 2>&1
  [ "$had_group" = no ] && getent group "$user" > /dev/null && delgroup --quiet --system "$user" > /dev/null 2>&1
  [ "$had_scanner" = no ] && getent group scanner > /dev/null && delgroup --quiet --system scanner > /dev/null 2>&1
  [ "$had_state" = no ] && rm -rf "$state"
  set -e
}
trap 'restore; rm -rf "$work"' EXIT

# Installed with apt, as a user would (dependencies from the archive).
apt-get install -y --no-install-recommends "${debs[@]}" > "$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "apt-get install ./*.deb"; }
for package in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$package")" = "ii " ] || fail "$package is not installed"
done
# Every file of the packages is on disk (a dpkg path filter would keep some off).
for deb in "${debs[@]}"; do
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' | while read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || fail "$path of $(basename "$deb") is not on disk after the install"
  done
done
echo "installed: ${packages[*]}"

# The development files: pkg-config, and a host built against the installed
# header and library alone that scans the emulated scanner. On the glass lies a
# page of one inch square at 300 dpi, black on its left half and white on its
# right; the host scans that inch at 75 dpi in grey.
[ "$(pkg-config --modversion qrx7730)" = "$version" ] ||
  fail "pkg-config --modversion qrx7730 is '$(pkg-config --modversion qrx7730)', not $version"
{
  printf 'P5\n300 300\n255\n'
  python3 -c 'import sys; sys.stdout.buffer.write((bytes(150) + bytes([255]) * 150) * 300)'
} > "$work/page.pgm"
cc -Wall -Werror -o "$work/scan_host" "$here/scan_host.c" $(pkg-config --cflags --libs qrx7730)
[ -z "$(readelf -d "$work/scan_host" | grep -E 'RPATH|RUNPATH')" ] || fail "the host was linked with a search path"
clean_env=(env -i PATH=/usr/bin:/bin HOME="$work" TMPDIR="$work")
"${clean_env[@]}" QRX7730_SIM="speed=200,document=$work/page.pgm" "$work/scan_host" "sim:#packages-test-$$" \
  > "$work/host.out" || { cat "$work/host.out" >&2; fail "the C host's scan"; }
cat "$work/host.out"
read -r width lines left right < <(sed -n 's/^scanned [^:]*:[^:]*: \([0-9]*\) x \([0-9]*\) pixels, left third \([0-9]*\), right third \([0-9]*\)$/\1 \2 \3 \4/p' "$work/host.out") || true
[ "${width:-}" = 75 ] && [ "$lines" = 75 ] || fail "one inch at 75 dpi is 75 x 75 pixels, the host got ${width:-?} x ${lines:-?}"
[ "$left" -lt 64 ] && [ "$right" -gt 192 ] || fail "the page's black half reads $left and its white half $right"

# SANE: a qrx7730-sim daemon named in a copy of the installed qrx7730.conf in a
# configuration directory of the test's own, read before SANE's own /etc/sane.d
# (where the dll backend finds the installed dll.d entry).
sock=$work/qrx.sock
/usr/bin/qrx7730-sim --socket "$sock" --speed 100 --document "$work/page.pgm" > "$work/sim.out" 2>&1 &
daemon=$!
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || fail "the installed qrx7730-sim did not serve: $(cat "$work/sim.out")"
mkdir "$work/sane.d"
sed "s|^#sim:/run/qrx7730.sock\$|sim:$sock|" /etc/sane.d/qrx7730.conf > "$work/sane.d/qrx7730.conf"
grep -qx "sim:$sock" "$work/sane.d/qrx7730.conf" || fail "no daemon line to take the '#' from in /etc/sane.d/qrx7730.conf"
sane_env=("${clean_env[@]}" SANE_CONFIG_DIR="$work/sane.d:")
"${sane_env[@]}" scanimage -L > "$work/list.out" 2>&1 || { cat "$work/list.out" >&2; fail "scanimage -L"; }
grep -q "^device \`qrx7730:sim:$sock' is a QUARN RV-70413K flatbed scanner" "$work/list.out" ||
  fail "scanimage -L does not list the daemon's scanner: $(cat "$work/list.out")"
"${sane_env[@]}" scanimage -d "qrx7730:sim:$sock" --mode Gray --resolution 75 -l 0 -t 0 -x 25.4 -y 25.4 \
  --format=pnm > "$work/sane.pnm" 2> "$work/sane.err" || { cat "$work/sane.err" >&2; fail "scanimage on the daemon"; }
python3 - "$work/sane.pnm" << 'PY' > "$work/sane.out" || fail "the scanimage image: $(cat "$work/sane.out")"
import sys
data = open(sys.argv[1], 'rb').read()
# The header's four fields, with comment lines (scanimage writes one) between them.
fields, at = [], 0
while len(fields) < 4:
    while data[at:at + 1].isspace(): at += 1
    if data[at:at + 1] == b'#':
        at = data.index(b'\n', at) + 1
        continue
    end = at
    while not data[end:end + 1].isspace(): end += 1
    fields.append(data[at:end])
    at = end
magic, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
pixels = data[at + 1:]
third = width // 3
left = sum(pixels[y * width + x] for y in range(height) for x in range(third)) / (third * height)
right = sum(pixels[y * width + width - 1 - x] for y in range(height) for x in range(third)) / (third * height)
print(f"{magic.decode()} {width} x {height}, left third {left:.0f}, right third {right:.0f}")
ok = magic == b'P5' and (width, height, maxval) == (75, 75, 255) and left < 64 and right > 192
sys.exit(0 if ok else 1)
PY
echo "scanimage: $(cat "$work/sane.out")"
kill "$daemon"; wait "$daemon" 2> /dev/null || true; daemon=""

# The network server: its unit as installed (with the package's drop-in), its
# system user in the group scanner, its state directory, the service enabled.
unit=/lib/systemd/system/qrx7730-escl.service
[ -f "$unit" ] || fail "no $unit"
systemd-analyze verify --man=no "$unit" > "$work/verify.out" 2>&1 || { cat "$work/verify.out" >&2; fail "systemd-analyze verify"; }
[ ! -s "$work/verify.out" ] || { cat "$work/verify.out" >&2; fail "systemd-analyze verify complains"; }
id -nG "$user" | grep -qw scanner || fail "$user is not in the group scanner"
[ "$(stat -c %U:%G "$state")" = "$user:$user" ] || fail "$state belongs to $(stat -c %U:%G "$state")"
[ -L /etc/systemd/system/multi-user.target.wants/qrx7730-escl.service ] || fail "the service is not enabled"
runuser -u "$user" -- /usr/bin/qrx7730-escl --version | grep -q "^qrx7730-escl $version" || fail "qrx7730-escl --version"
dpkg-query -W -f='${Conffiles}\n' libsane-qrx7730 | grep -q '^ /etc/sane.d/qrx7730.conf ' || fail "qrx7730.conf is no conffile"

# Removed, then purged: every file dpkg listed goes, conffiles only with the purge.
for package in "${packages[@]}"; do dpkg -L "$package"; done | sort -u > "$work/listed"
conffiles=$(for package in "${packages[@]}"; do dpkg-query -W -f='${Conffiles}\n' "$package"; done | awk 'NF {print $1}')
[ -n "$conffiles" ] || fail "the packages have no conffiles"
apt-get remove -y "${packages[@]}" > "$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "apt-get remove"; }
while read -r path; do
  if [ -f "$path" ] && ! grep -qxF "$path" <<< "$conffiles"; then fail "$path is left after apt-get remove"; fi
done < "$work/listed"
for path in $conffiles; do [ -f "$path" ] || fail "apt-get remove took the conffile $path"; done
# Left known to dpkg are the packages with conffiles ("rc"); the others are gone.
status() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2> /dev/null || true; }
with_conffiles=()
for package in "${packages[@]}"; do
  case "$(status "$package")" in
    "rc ") with_conffiles+=("$package") ;;
    "" | "un ") ;;
    *) fail "$package is '$(status "$package")' after apt-get remove" ;;
  esac
done
[ ${#with_conffiles[@]} -gt 0 ] || fail "no package kept its conffiles through apt-get remove"
apt-get purge -y "${with_conffiles[@]}" > "$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "apt-get purge"; }
# (What was there before, such as /usr/share/man, stays; /lib is /usr/lib.)
while read -r path; do
  [ "$path" = /. ] && continue
  if [ -e "$path" ] || [ -L "$path" ]; then
    if [ -d "$path" ]; then
      canonical=$(realpath "$path")
    else
      canonical=$(realpath "$(dirname "$path")")
      canonical=${canonical%/}/$(basename "$path")
    fi
    grep -qxF "$canonical" "$work/files.before" || fail "$path is left after apt-get purge"
  fi
done < "$work/listed"
for package in "${packages[@]}"; do
  case "$(status "$package")" in "" | "un ") ;; *) fail "$package is '$(status "$package")' after apt-get purge" ;; esac
done
snapshot > "$work/files.after"
comm -13 "$work/files.before" "$work/files.after" > "$work/files.new"
[ ! -s "$work/files.new" ] || fail "apt-get purge left: $(head -20 "$work/files.new")"
echo "removed and purged: ${#packages[@]} packages, $(wc -l < "$work/listed") paths, nothing left"

# Put back as found: the packages, the users and groups, the files.
restore
installed_packages > "$work/packages.after"
diff "$work/packages.before" "$work/packages.after" > /dev/null ||
  fail "the packages are not as before: $(diff "$work/packages.before" "$work/packages.after")"
snapshot > "$work/files.restored"
diff "$work/files.before" "$work/files.restored" > /dev/null ||
  fail "the files are not as before: $(diff "$work/files.before" "$work/files.restored" | head -20)"
[ "$had_user" = yes ] || ! getent passwd "$user" > /dev/null || fail "the user $user is left"
[ "$had_scanner" = no ] || getent group scanner > /dev/null || fail "the group scanner is gone"
echo "the machine is as it was found"
