#!/usr/bin/env bash
# Installs, upgrades, removes and purges the fuelgate package in a throw-away root and checks what
# lands where the units expect it.
#   scripts/package-install-test.sh fuelgate_VERSION_ARCH.deb
#
# The throw-away root is a copy-on-write overlay of this machine's own root file system, in private
# mount, IPC, network and process namespaces: dpkg, adduser, deb-systemd-helper and logrotate run
# for real inside it, and nothing they do reaches the machine. No service manager runs there, so
# systemctl is replaced by a stand-in that records its calls and answers what deb-systemd-invoke
# asks (is-enabled, is-active); the maintainer scripts see /run/systemd/system and so take the
# path of a machine with systemd. The two programs are then started the way their units start
# them (user, directory, umask, output files, parent process 1) and checked while they run.
#
# Needs root and the namespaces of unshare(1); ends with "N passed, N failed".
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  deb=$(readlink -f "${1:?usage: $0 PACKAGE.deb}")
  if [ "$(id -u)" -ne 0 ]; then
    echo "package-install-test: needs root (dpkg in a throw-away root); skipped" >&2
    exit 0
  fi
  work=$(mktemp -d /tmp/fuelgate-root.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  # The new process namespace makes this script process 1 there: programs it starts have process 1
  # as their parent, as under systemd. Its end ends them all and takes the mounts with it.
  rc=0
  unshare --mount --ipc --net --pid --fork --propagation private \
    "$(readlink -f "$0")" --inside "$deb" "$work" || rc=$?
  exit $rc
fi

deb=$2
work=$3
R=$work/root
source "$(dirname "$(readlink -f "$0")")/package-checklib.sh"
user_exists() { in_root getent passwd fuelgate >/dev/null; }
calls() { cat "$R/run/fake-systemd/calls" 2>/dev/null || true; }
called() { calls | grep -qx -- "$1" || { echo "     no call '$1' in:"; calls | sed 's/^/       /'; return 1; }; }
not_called() { ! calls | grep -q -- "$1" || { echo "     unexpected call '$1'"; return 1; }; }
forget_calls() { : >"$R/run/fake-systemd/calls"; }
wait_for() { poll 200 0.05 "$@"; }

# ---------------------------------------------------------------- the throw-away root
mkdir -p "$R" "$work/upper" "$work/ovl"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/ovl" "$R"
mount --rbind /dev "$R/dev"
mount -t proc proc "$R/proc"
mount -t tmpfs tmpfs "$R/run"
mount -t tmpfs tmpfs "$R/tmp"
ip link set lo up
if in_root dpkg-query -W fuelgate >/dev/null 2>&1; then
  echo "package-install-test: fuelgate is installed on this machine; test it on a clean one" >&2
  exit 1
fi
# A container's policy-rc.d forbids starting services; the test wants the scripts' real path.
rm -f "$R/usr/sbin/policy-rc.d"
mkdir -p "$R/run/systemd/system" "$R/run/fake-systemd/active"
: >"$R/run/fake-systemd/calls"
mv "$R/usr/bin/systemctl" "$R/usr/bin/systemctl.real"
cat >"$R/usr/bin/systemctl" <<'EOF'
#!/bin/sh
# Stand-in for systemctl without a service manager: records each call, keeps an "active" mark
# per unit, sends SIGHUP for a reload to the process recorded as the unit's main process, and
# leaves offline work on unit files (--root) to the real systemctl.
echo "systemctl $*" >>/run/fake-systemd/calls
for a in "$@"; do
  case "$a" in --root=*) exec /usr/bin/systemctl.real "$@" ;; esac
done
verb=
units=
for a in "$@"; do
  case "$a" in
    -*) ;;
    *) if [ -z "$verb" ]; then verb=$a; else units="$units $a"; fi ;;
  esac
done
rc=0
for u in $units; do
  case "$verb" in
    is-enabled)
      if ls /etc/systemd/system/*.wants/"$u" >/dev/null 2>&1; then echo enabled; else echo disabled; rc=1; fi ;;
    is-active) [ -e /run/fake-systemd/active/"$u" ] || rc=3 ;;
    start|restart) touch /run/fake-systemd/active/"$u" ;;
    stop) rm -f /run/fake-systemd/active/"$u" ;;
    reload|try-reload-or-restart)
      if [ -s /run/fake-systemd/"$u".pid ]; then kill -HUP "$(cat /run/fake-systemd/"$u".pid)"; fi ;;
  esac
done
exit $rc
EOF
chmod 0755 "$R/usr/bin/systemctl"
cp "$deb" "$R/tmp/fuelgate.deb"

# A second version of the package: the same files under a higher version, to upgrade to.
version=$(dpkg-deb -f "$deb" Version)
mkdir "$work/next"
dpkg-deb -R "$deb" "$work/next/tree"
sed -i "s/^Version: .*/Version: ${version}+next1/" "$work/next/tree/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/next/tree" "$R/tmp/fuelgate-next.deb" >/dev/null
# And a third whose shipped configuration changed too.
sed -i "s/^Version: .*/Version: ${version}+next2/" "$work/next/tree/DEBIAN/control"
sed -i 's/"worker_threads": [0-9]*/"worker_threads": 96/' "$work/next/tree/etc/fuelgate/config.json"
dpkg-deb --root-owner-group -b "$work/next/tree" "$R/tmp/fuelgate-next2.deb" >/dev/null

# ---------------------------------------------------------------- install
echo "== install"
check "dpkg -i installs the package" in_root dpkg -i /tmp/fuelgate.deb
check "installed status" sh -c "chroot '$R' dpkg-query -W -f='\${Status}' fuelgate | grep -qx 'install ok installed'"
pw=$(in_root getent passwd fuelgate || true)
uid=$(echo "$pw" | cut -d: -f3)
check "user fuelgate exists" test -n "$pw"
check "user fuelgate is a system user (uid $uid)" test "${uid:-1000}" -lt 1000
check "user fuelgate: home /var/lib/fuelgate, no login shell" \
  test "$(echo "$pw" | cut -d: -f6,7)" = "/var/lib/fuelgate:/usr/sbin/nologin"
check "group fuelgate is the user's group" \
  test "$(in_root id -gn fuelgate 2>/dev/null)" = fuelgate
check "/var/lib/fuelgate fuelgate 0750" has_perms /var/lib/fuelgate "fuelgate:fuelgate 750"
check "/var/log/fuelgate fuelgate 0750" has_perms /var/log/fuelgate "fuelgate:fuelgate 750"
check "/run/fuelgate made from tmpfiles.d, fuelgate 0750" has_perms /run/fuelgate "fuelgate:fuelgate 750"
check "/etc/fuelgate/config.json root:fuelgate 0640" has_perms /etc/fuelgate/config.json "root:fuelgate 640"
for unit in fuelweb.service pcuMonitorServer.service; do
  check "$unit enabled" test -L "$R/etc/systemd/system/multi-user.target.wants/$unit"
  check "$unit started" called "systemctl --quiet --system start $unit"
done
check "units reloaded before the start" called "systemctl --system daemon-reload"
check "the monitor starts before the web service" \
  sh -c "grep -n 'start ' '$R/run/fake-systemd/calls' | head -1 | grep -q pcuMonitorServer"

# The units name what the package installed.
unit_value() { sed -n "s/^$2=//p" "$R/lib/systemd/system/$1" | head -1; }
for unit in fuelweb.service pcuMonitorServer.service; do
  exe=$(unit_value "$unit" ExecStart | cut -d' ' -f1)
  cfg=$(unit_value "$unit" ExecStart | awk '{ print $NF }')
  check "$unit: ExecStart $exe is installed and executable" test -x "$R$exe"
  check "$unit: its configuration $cfg is installed" test -f "$R$cfg"
  check "$unit: User=fuelgate" test "$(unit_value "$unit" User)" = fuelgate
  check "$unit: WorkingDirectory exists" test -d "$R$(unit_value "$unit" WorkingDirectory)"
  check "$unit: RuntimeDirectory kept across stops" test "$(unit_value "$unit" RuntimeDirectoryPreserve)" = yes
  check "$unit: no private /tmp" test "$(unit_value "$unit" PrivateTmp)" = no
done
if in_root sh -c 'command -v systemd-analyze' >/dev/null; then
  out=$(in_root systemd-analyze verify /lib/systemd/system/fuelweb.service \
    /lib/systemd/system/pcuMonitorServer.service 2>&1 | grep -v 'sysinit.target not found' || true)
  check "systemd-analyze verify finds nothing in the units" test -z "$out"
  [ -z "$out" ] || echo "$out" | sed 's/^/       /'
fi

# Where the configuration points must be where the units, tmpfiles and logrotate put things.
json_value() { sed -n "s/^ *\"$1\": *\"\\([^\"]*\\)\".*/\\1/p" "$R/etc/fuelgate/config.json" | head -1; }
check "config tmp_path is the shared /run/fuelgate" test "$(json_value tmp_path)" = /run/fuelgate
check "config run_path is /run/fuelgate" test "$(json_value run_path)" = /run/fuelgate
check "config log_path is /var/log/fuelgate" test "$(json_value log_path)" = /var/log/fuelgate
check "config logging.file is /var/log/fuelgate/fuelweb.log" test "$(json_value file)" = /var/log/fuelgate/fuelweb.log
check "config state_path is /var/lib/fuelgate/state.db" test "$(json_value state_path)" = /var/lib/fuelgate/state.db
# fuelwebctl without -c, and fuelweb with a configuration that names no state file, use the same.
check "fuelwebctl's default state file is the packaged one" \
  sh -c "chroot '$R' fuelwebctl 2>&1 | grep -q 'иначе $(json_value state_path)\$'"
check "unit appends the monitor's output to log_path/pcuMonitorServer.log" \
  test "$(unit_value pcuMonitorServer.service StandardOutput)" = "append:/var/log/fuelgate/pcuMonitorServer.log"
check "unit appends the monitor's errors to log_path/pcuMonitorServer.err" \
  test "$(unit_value pcuMonitorServer.service StandardError)" = "append:/var/log/fuelgate/pcuMonitorServer.err"
for f in fuelweb.log pcuMonitorServer.log pcuMonitorServer.err; do
  check "logrotate covers $f" grep -q "/var/log/fuelgate/$f" "$R/etc/logrotate.d/fuelgate"
done

# ---------------------------------------------------------------- the programs as the units run them
echo "== programs started as their units start them"
# Starts a unit's ExecStart in the root as its User, in its WorkingDirectory, with its UMask and
# output files, as a child of this process 1 (as systemd's children are); records its pid.
start_unit() {
  local unit=$1 out err exe
  exe=$(unit_value "$unit" ExecStart)
  out=$(unit_value "$unit" StandardOutput)
  err=$(unit_value "$unit" StandardError)
  out=${out#append:}
  err=${err#append:}
  (
    umask "$(unit_value "$unit" UMask)"
    exec </dev/null
    if [ -n "$out" ]; then exec >>"$R$out"; fi
    if [ -n "$err" ]; then exec 2>>"$R$err"; fi
    # shellcheck disable=SC2086 # ExecStart is a command line: split it into words
    exec chroot --userspec=fuelgate:fuelgate "$R" \
      sh -c 'cd "$0" && exec "$@"' "$(unit_value "$unit" WorkingDirectory)" $exe
  ) &
  echo $! >"$R/run/fake-systemd/$unit.pid"
}
pid_of() { cat "$R/run/fake-systemd/$1.pid"; }
# The process numbers are those of this namespace: its /proc is the one mounted in the root.
runs_as_fuelgate() { [ "$(awk '/^Uid:/ { print $2 }' "$R/proc/$(pid_of "$1")/status" 2>/dev/null)" = "$uid" ]; }
listening() { (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; }
segment_of_fuelgate() { in_root ipcs -m | awk -v u=fuelgate '$3 == u' | grep -q .; }
start_unit pcuMonitorServer.service
check "the monitor makes the key file /run/fuelgate/trkstat.mem" wait_for test -e "$R/run/fuelgate/trkstat.mem"
check "the monitor runs as fuelgate" runs_as_fuelgate pcuMonitorServer.service
check "the monitor stays in the foreground (no pid file)" test ! -e "$R/run/fuelgate/pcuMonitorServer.pid"
check "the monitor's segment belongs to fuelgate" wait_for segment_of_fuelgate
check "the monitor writes its errors to /var/log/fuelgate/pcuMonitorServer.err" \
  wait_for test -s "$R/var/log/fuelgate/pcuMonitorServer.err"
start_unit fuelweb.service
check "fuelweb listens on 127.0.0.1:8080" wait_for listening
check "fuelweb runs as fuelgate" runs_as_fuelgate fuelweb.service
check "fuelweb logs to /var/log/fuelgate/fuelweb.log" \
  wait_for grep -q "Запуск приложения" "$R/var/log/fuelgate/fuelweb.log"
code=$(curl -s -o /dev/null -w '%{http_code}' \
  'http://127.0.0.1:8080/api/fuelweb/ping?apikey=client,server-key,station-key&columnId=1' || true)
check "the shipped configuration refuses every key (401, got $code)" test "$code" = 401
check "fuelweb's log is not world-readable" \
  sh -c "[ \$(stat -c %a '$R/var/log/fuelgate/fuelweb.log') = 640 ]"

echo "== logrotate"
in_root logrotate -f -s /var/lib/logrotate/fuelgate-test.status /etc/logrotate.d/fuelgate
check "logrotate asked fuelweb to reopen its log" called "systemctl try-reload-or-restart fuelweb.service"
check "fuelweb.log moved aside" test -s "$R/var/log/fuelgate/fuelweb.log.1"
check "fuelweb writes its new cycle into a new fuelweb.log" \
  wait_for grep -q "Запуск приложения" "$R/var/log/fuelgate/fuelweb.log"
check "new fuelweb.log made for fuelgate, 0640" has_perms /var/log/fuelgate/fuelweb.log "fuelgate:fuelgate 640"
check "pcuMonitorServer.err copied aside" test -s "$R/var/log/fuelgate/pcuMonitorServer.err.1"
check "fuelweb still answers after the reload" wait_for listening
kill -TERM "$(pid_of pcuMonitorServer.service)"
rc=0
wait "$(pid_of pcuMonitorServer.service)" || rc=$?
check "the monitor stops with status 0 on SIGTERM" test "$rc" = 0
check "its stop line lands at the start of the truncated .log" \
  sh -c "head -c 1 '$R/var/log/fuelgate/pcuMonitorServer.log' | grep -q '(' &&
         grep -q 'Остановка демона по сигналу : 15' '$R/var/log/fuelgate/pcuMonitorServer.log'"
kill -TERM "$(pid_of fuelweb.service)"
rc=0
wait "$(pid_of fuelweb.service)" || rc=$?
check "fuelweb stops with status 0 on SIGTERM" test "$rc" = 0
rm -f "$R"/run/fake-systemd/*.pid

# ---------------------------------------------------------------- upgrade
echo "== upgrade (same configuration shipped)"
sed -i 's/"ctl_key": *"[^"]*"/"ctl_key": "operator-station-key"/' "$R/etc/fuelgate/config.json"
echo "state of the operator" >"$R/var/lib/fuelgate/marker"
config_sum=$(md5sum <"$R/etc/fuelgate/config.json")
forget_calls
check "dpkg -i upgrades to ${version}+next1" in_root dpkg -i /tmp/fuelgate-next.deb
check "the operator's configuration is kept" test "$(md5sum <"$R/etc/fuelgate/config.json")" = "$config_sum"
check "its rights are kept" has_perms /etc/fuelgate/config.json "root:fuelgate 640"
check "the state is kept" grep -q operator "$R/var/lib/fuelgate/marker"
check "the logs are kept" test -s "$R/var/log/fuelgate/fuelweb.log.1"
check "the same user id" test "$(in_root id -u fuelgate)" = "$uid"
check "services not stopped before the upgrade" not_called " stop "
for unit in pcuMonitorServer.service fuelweb.service; do
  check "$unit restarted" called "systemctl --quiet --system restart $unit"
  check "$unit still enabled" test -L "$R/etc/systemd/system/multi-user.target.wants/$unit"
done

echo "== upgrade (shipped configuration changed, operator keeps theirs)"
forget_calls
check "dpkg -i --force-confold upgrades to ${version}+next2" \
  in_root dpkg -i --force-confold /tmp/fuelgate-next2.deb
check "the operator's configuration is kept" test "$(md5sum <"$R/etc/fuelgate/config.json")" = "$config_sum"
check "the new sample lies beside it as config.json.dpkg-dist" \
  grep -q '"worker_threads": 96' "$R/etc/fuelgate/config.json.dpkg-dist"
check "its rights are kept" has_perms /etc/fuelgate/config.json "root:fuelgate 640"

# ---------------------------------------------------------------- remove
echo "== remove"
forget_calls
check "dpkg -r removes the package" in_root dpkg -r fuelgate
check "status: removed, configuration files kept" \
  sh -c "chroot '$R' dpkg-query -W -f='\${Status}' fuelgate | grep -qx 'deinstall ok config-files'"
check "both services stopped" called "systemctl stop fuelweb.service pcuMonitorServer.service"
check "programs gone" test ! -e "$R/usr/sbin/fuelweb" -a ! -e "$R/usr/sbin/pcuMonitorServer"
check "unit files gone" test ! -e "$R/lib/systemd/system/fuelweb.service"
check "the operator's configuration is kept" test "$(md5sum <"$R/etc/fuelgate/config.json")" = "$config_sum"
check "the state is kept" grep -q operator "$R/var/lib/fuelgate/marker"
check "the logs are kept" test -s "$R/var/log/fuelgate/fuelweb.log.1"
check "the user is kept" user_exists

echo "== install again after the removal"
forget_calls
check "dpkg -i installs again" in_root dpkg -i /tmp/fuelgate-next2.deb
check "the operator's configuration is back in use" test "$(md5sum <"$R/etc/fuelgate/config.json")" = "$config_sum"
check "the same user id" test "$(in_root id -u fuelgate)" = "$uid"
# dpkg hands the postinst the version last configured, so the units are "restarted", which starts
# them; they stayed enabled.
check "fuelweb.service started again" called "systemctl --quiet --system restart fuelweb.service"

# ---------------------------------------------------------------- purge
echo "== purge"
forget_calls
check "the pump table's segment is still there before the purge" segment_of_fuelgate
check "fuelweb made its state file" test -s "$R/var/lib/fuelgate/state.db"
state_sum=$(md5sum <"$R/var/lib/fuelgate/state.db")
# purge_with [VAR=VALUE ...]: dpkg -P in the root, its output in $R/tmp/purge.out.
purge_with() { in_root env "$@" dpkg -P fuelgate >"$R/tmp/purge.out" 2>&1; }
check "dpkg -P purges the package" purge_with
check "package unknown to dpkg" sh -c "! chroot '$R' dpkg-query -W fuelgate >/dev/null 2>&1"
check "both services stopped" called "systemctl stop fuelweb.service pcuMonitorServer.service"
for path in /etc/fuelgate /var/log/fuelgate /run/fuelgate /etc/logrotate.d/fuelgate; do
  check "$path removed" test ! -e "$R$path"
done
# The copies in /var/lib/fuelgate (a write-ahead log beside one is part of it), and the rest.
kept_copies() { ls "$R/var/lib/fuelgate" | grep -cE '^state\.db\.purged-[0-9]{8}-[0-9]{6}$' || true; }
kept_file() { ls "$R/var/lib/fuelgate" | grep -E '^state\.db\.purged-[0-9]{8}-[0-9]{6}$' | head -n 1; }
not_kept() { ls "$R/var/lib/fuelgate" | grep -cvE '^state\.db\.purged-' || true; }
check "/var/lib/fuelgate holds only the state file's copy" test "$(kept_copies) $(not_kept)" = "1 0"
check "the copy is the state file" test "$(md5sum <"$R/var/lib/fuelgate/$(kept_file)")" = "$state_sum"
check "the copy is the service user's, 0600" has_perms "/var/lib/fuelgate/$(kept_file)" "fuelgate:fuelgate 600"
check "the purge says where the copy is and how to remove it" \
  sh -c "grep -q 'kept as /var/lib/fuelgate/state.db.purged-' '$R/tmp/purge.out' &&
         grep -q 'FUELGATE_PURGE_STATE=1' '$R/tmp/purge.out'"
for unit in fuelweb.service pcuMonitorServer.service; do
  check "$unit no longer enabled" test ! -e "$R/etc/systemd/system/multi-user.target.wants/$unit"
done
check "the segment is removed" sh -c "! chroot '$R' ipcs -m | awk '\$3 == \"$uid\" || \$3 == \"fuelgate\"' | grep -q ."
check "the user is kept (its id is not handed out again)" user_exists

echo "== purge again: the copy of the first purge stays"
check "dpkg -i installs again" in_root dpkg -i /tmp/fuelgate-next2.deb
check "dpkg -P purges the package again" purge_with
check "the earlier copy is kept" test "$(kept_copies)" = 1

echo "== purge with FUELGATE_PURGE_STATE=1: the state goes too"
check "dpkg -i installs again" in_root dpkg -i /tmp/fuelgate-next2.deb
check "FUELGATE_PURGE_STATE=1 dpkg -P purges the package" purge_with FUELGATE_PURGE_STATE=1
check "/var/lib/fuelgate removed, copies included" test ! -e "$R/var/lib/fuelgate"
check "nothing said of a kept copy" sh -c "! grep -q 'kept as' '$R/tmp/purge.out'"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
