#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it:
#   - its control fields and contents, with dpkg-deb;
#   - its programs: stripped, hardened, every library they link named in Depends;
#   - lintian: every finding is printed, an error fails the check;
#   - its life in a throw-away root: install, upgrade, remove, reinstall, purge, with the
#     maintainer scripts' calls to systemctl recorded (scripts/package-install-test.sh);
#   - the same under a real systemd booted in a container: services start, reload, rotate their
#     logs, restart on upgrade, stop on removal (scripts/package-systemd-test.sh;
#     PACKAGE_CHECK_SYSTEMD=0 leaves it out);
#   - apt install and purge on a clean, minimal Debian (scripts/package-clean-install-test.sh;
#     needs the Debian archive, about a minute; PACKAGE_CHECK_CLEAN=0 leaves it out).
# Ends with "N passed, N failed"; exits non-zero when a check failed.
#   scripts/package-check.sh           build, then check
#   scripts/package-check.sh FILE.deb  check a package built before
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

./scripts/deps.sh --package-check
if [ $# -ge 1 ]; then
  deb=$(readlink -f "$1")
else
  deb=$(./scripts/package.sh | tail -1)
fi
BUILD_DIR=$(dirname "$deb")
echo "== checking $deb"

source "$(dirname "$(readlink -f "$0")")/package-checklib.sh"

work=$(mktemp -d /tmp/fuelgate-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
field() { dpkg-deb -f "$deb" "$1"; }

# ---------------------------------------------------------------- control fields
echo "== control fields"
changelog_version=$(sed -n '1s/^fuelgate (\([^)]*\)).*/\1/p' deploy/debian/changelog)
check "Package: fuelgate" test "$(field Package)" = fuelgate
check "Version $(field Version) is the changelog's $changelog_version" test "$(field Version)" = "$changelog_version"
check "Architecture is this machine's" test "$(field Architecture)" = "$(dpkg --print-architecture)"
for f in Maintainer Section Priority Description; do
  check "$f is set" test -n "$(field "$f")"
done
depends=$(field Depends)
# Package names of Depends, alternatives included, without versions.
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//' | sort -u)
check "Depends on adduser (the postinst makes the user)" grep -qxF adduser <<<"$depends_names"
# Every library that a program links comes from a package named in Depends.
needed_packages() {
  local lib path
  for lib in $(objdump -p "$1" | awk '/NEEDED/ { print $2 }'); do
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l { print $NF; exit }')
    [ -n "$path" ] || { echo "unresolved:$lib"; continue; }
    dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1 ||
      dpkg -S "$path" | head -1 | cut -d: -f1
  done | sort -u
}
for prog in "$work"/root/usr/sbin/* "$work"/root/usr/bin/*; do
  [ -f "$prog" ] || continue
  for pkg in $(needed_packages "$prog"); do
    check "$(basename "$prog"): Depends names $pkg" grep -qxF "$pkg" <<<"$depends_names"
  done
done

# ---------------------------------------------------------------- contents
echo "== contents"
# path mode; owner root:root for all.
expected="./usr/sbin/fuelweb 755
./usr/sbin/pcuMonitorServer 755
./etc/fuelgate/config.json 644
./etc/logrotate.d/fuelgate 644
./lib/systemd/system/fuelweb.service 644
./lib/systemd/system/pcuMonitorServer.service 644
./usr/lib/tmpfiles.d/fuelgate.conf 644
./usr/share/man/man8/fuelweb.8.gz 644
./usr/share/man/man8/pcuMonitorServer.8.gz 644
./usr/share/doc/fuelgate/copyright 644
./usr/share/doc/fuelgate/changelog.gz 644"
# The operator command joins the package once the tree builds it.
if find "$BUILD_DIR" -name fuelwebctl -type f -perm -u+x | grep -q .; then
  expected="$expected
./usr/bin/fuelwebctl 755"
fi
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ { print $6, $1, $2 }' <<<"$listing")
while read -r path mode; do
  line=$(awk -v p="$path" '$1 == p' <<<"$files")
  check "ships $path" test -n "$line"
  [ -n "$line" ] || continue
  check "$path mode $mode" test "$(stat -c %a "$work/root/${path#./}")" = "$mode"
done <<<"$expected"
unexpected=$(awk '{ print $1 }' <<<"$files" | grep -vxF -f <(awk '{ print $1 }' <<<"$expected") |
  grep -vE '^\./usr/share/man/man[1-8]/fuelwebctl\.[1-8]\.gz$' || true)
check "ships nothing else" test -z "$unexpected"
[ -z "$unexpected" ] || echo "$unexpected" | sed 's/^/       /'
check "everything belongs to root:root" test -z "$(awk '$2 != "root/root"' <<<"$listing")"
check "nothing under /run, /var or /tmp (made at install or run time)" \
  test -z "$(awk '$6 ~ /^\.\/(run|var|tmp)\//' <<<"$listing")"
conffiles=$(sort "$work/control/conffiles")
etc_files=$(awk '$1 ~ /^\.\/etc\// { sub(/^\./, "", $1); print $1 }' <<<"$files" | sort)
check "every file in /etc is a conffile, and only those" test "$conffiles" = "$etc_files"
for script in postinst prerm postrm; do
  check "$script is executable" test -x "$work/control/$script"
  check "$script is valid sh" sh -n "$work/control/$script"
done

# ---------------------------------------------------------------- programs
echo "== programs"
for prog in "$work"/root/usr/sbin/* "$work"/root/usr/bin/*; do
  [ -f "$prog" ] || continue
  name=$(basename "$prog")
  check "$name is stripped" sh -c "file -b '$prog' | grep -qw stripped && ! file -b '$prog' | grep -q 'not stripped'"
  check "$name is position-independent" sh -c "readelf -h '$prog' | grep -q 'Type:.*DYN'"
  check "$name has read-only relocations" sh -c "readelf -l '$prog' | grep -q GNU_RELRO"
  check "$name binds immediately" sh -c "readelf -d '$prog' | grep -qE 'BIND_NOW|FLAGS.*NOW'"
  check "$name has a stack protector" sh -c "objdump -T '$prog' | grep -q __stack_chk_fail"
done
check "fuelweb tells its usage" sh -c "'$work/root/usr/sbin/fuelweb' 2>&1 | grep -q 'fuelweb -c'"
check "pcuMonitorServer --help exits 0" sh -c "'$work/root/usr/sbin/pcuMonitorServer' --help >/dev/null"
for prog in "$work"/root/usr/sbin/* "$work"/root/usr/bin/*; do
  [ -f "$prog" ] || continue
  name=$(basename "$prog")
  check "$name --version names the package's version" \
    sh -c "'$prog' --version | grep -q '^$name $(field Version)\( (commit [^)]*)\)\?\$'"
done
for prog in fuelweb pcuMonitorServer; do
  check "the shipped configuration passes $prog --check-config" \
    sh -c "'$work/root/usr/sbin/$prog' --check-config -c '$work/root/etc/fuelgate/config.json' >/dev/null"
done

# ---------------------------------------------------------------- lintian
echo "== lintian"
lintian_out=$(lintian --pedantic --display-info --tag-display-limit 0 "$deb" 2>&1 |
  grep -v 'running with root privileges' || true)
if [ -n "$lintian_out" ]; then echo "$lintian_out" | sed 's/^/     /'; fi
for level in E W I P; do
  echo "     lintian $level: $(grep -c "^$level: " <<<"$lintian_out" || true)"
done
check "lintian finds no error" test -z "$(grep '^E: ' <<<"$lintian_out" || true)"

# ---------------------------------------------------------------- installed
# Runs one of the installation tests and adds its "N passed, N failed" to ours; a test that ends
# with status 0 and no such line was skipped (it says why).
run_part() {
  local title=$1 script=$2 out rc=0 summary
  echo "== $title"
  out="$work/$(basename "$script").log"
  "$ROOT/scripts/$script" "$deb" 2>&1 | tee "$out" || rc=$?
  summary=$(tail -1 "$out")
  if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
    if [ "$rc" -ne 0 ] && [ "${BASH_REMATCH[2]}" -eq 0 ]; then bad "$script ended with status $rc"; fi
  elif [ "$rc" -ne 0 ]; then
    bad "$script ended with status $rc"
  fi
}
run_part "install, upgrade, remove, purge in a throw-away root" package-install-test.sh
if [ "${PACKAGE_CHECK_SYSTEMD:-1}" = 1 ]; then
  run_part "the same under a real systemd in a container" package-systemd-test.sh
else
  echo "== under systemd: skipped (PACKAGE_CHECK_SYSTEMD=0)"
fi
if [ "${PACKAGE_CHECK_CLEAN:-1}" = 1 ]; then
  run_part "apt install on a clean Debian" package-clean-install-test.sh
else
  echo "== apt install on a clean Debian: skipped (PACKAGE_CHECK_CLEAN=0)"
fi

echo "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
