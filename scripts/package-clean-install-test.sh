#!/usr/bin/env bash
# Installs the fuelgate package with apt on a clean, minimal Debian made by debootstrap, as an
# operator would (apt-get install ./fuelgate_*.deb): the declared dependencies must be enough for
# both programs to load, and the maintainer scripts must work on a system without systemd (no
# systemctl, no systemd-tmpfiles). Then purges it again.
#   scripts/package-clean-install-test.sh fuelgate_VERSION_ARCH.deb
#
# Needs root and the Debian archive (debootstrap and apt download from it); when the archive
# cannot be reached the test says so and is skipped. Ends with "N passed, N failed".
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  deb=$(readlink -f "${1:?usage: $0 PACKAGE.deb}")
  if [ "$(id -u)" -ne 0 ]; then
    echo "package-clean-install-test: needs root; skipped" >&2
    exit 0
  fi
  work=$(mktemp -d /tmp/fuelgate-clean.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  echo "== debootstrap --variant=minbase $suite"
  if ! debootstrap --variant=minbase "$suite" "$work/root" >"$work/debootstrap.log" 2>&1; then
    tail -5 "$work/debootstrap.log" | sed 's/^/     /'
    echo "package-clean-install-test: no clean Debian root could be made (is the archive reachable?); skipped"
    exit 0
  fi
  rc=0
  unshare --mount --pid --fork --propagation private "$(readlink -f "$0")" --inside "$deb" "$work/root" || rc=$?
  exit $rc
fi

deb=$2
R=$3
source "$(dirname "$(readlink -f "$0")")/package-checklib.sh"
no_missing_libraries() {
  local out
  out=$(in_root ldd "$1") && ! grep 'not found' <<<"$out"
}

mount --rbind /dev "$R/dev"
mount -t proc proc "$R/proc"
mount -t tmpfs tmpfs "$R/run"
cp /etc/resolv.conf "$R/etc/resolv.conf"
cp "$deb" "$R/tmp/$(basename "$deb")"

echo "== apt-get install ./$(basename "$deb")"
check "apt installs the package and what it depends on" \
  in_root sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./$(basename "$deb")"
check "the root has no systemd (the scripts' path without a service manager)" \
  test ! -e "$R/usr/bin/systemctl" -a ! -d "$R/run/systemd/system"
for prog in /usr/sbin/fuelweb /usr/sbin/pcuMonitorServer /usr/bin/fuelwebctl; do
  [ -e "$R$prog" ] || continue
  check "$prog finds every library it needs" no_missing_libraries "$prog"
done
check "pcuMonitorServer --help runs" sh -c "chroot '$R' /usr/sbin/pcuMonitorServer --help | grep -q OPTIONS"
check "fuelweb runs (and asks for its configuration)" sh -c "chroot '$R' /usr/sbin/fuelweb 2>&1 | grep -q 'fuelweb -c'"
check "user fuelgate exists" sh -c "chroot '$R' getent passwd fuelgate >/dev/null"
check "/var/lib/fuelgate fuelgate 0750" has_perms /var/lib/fuelgate "fuelgate:fuelgate 750"
check "/var/log/fuelgate fuelgate 0750" has_perms /var/log/fuelgate "fuelgate:fuelgate 750"
check "/run/fuelgate made without systemd-tmpfiles" has_perms /run/fuelgate "fuelgate:fuelgate 750"
check "/etc/fuelgate/config.json root:fuelgate 0640" has_perms /etc/fuelgate/config.json "root:fuelgate 640"
for unit in fuelweb.service pcuMonitorServer.service; do
  check "$unit enabled for the day systemd runs" test -L "$R/etc/systemd/system/multi-user.target.wants/$unit"
done

echo "== apt-get purge fuelgate"
check "apt purges the package" in_root sh -c "DEBIAN_FRONTEND=noninteractive apt-get purge -y -q fuelgate"
for path in /etc/fuelgate /var/lib/fuelgate /var/log/fuelgate /run/fuelgate \
  /etc/systemd/system/multi-user.target.wants/fuelweb.service; do
  check "$path removed" test ! -e "$R$path" -a ! -L "$R$path"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
