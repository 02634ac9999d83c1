#!/usr/bin/env bash
# Installs, reloads, rotates, upgrades, removes and purges the fuelgate package under a real
# systemd, and shows its watchdog at work (a fuelweb whose request thread hangs is restarted): a container (systemd-nspawn --boot) on a copy-on-write overlay of this machine's root,
# with its own network, so the units really start, run as fuelgate and stop.
#   scripts/package-systemd-test.sh fuelgate_VERSION_ARCH.deb
#
# Needs root, systemd-nspawn (systemd-container) and overlayfs; skipped with a note when the
# container does not boot here. Ends with "N passed, N failed".
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  deb=$(readlink -f "${1:?usage: $0 PACKAGE.deb}")
  if [ "$(id -u)" -ne 0 ] || ! command -v systemd-nspawn >/dev/null; then
    echo "package-systemd-test: needs root and systemd-nspawn; skipped" >&2
    exit 0
  fi
  work=$(mktemp -d /tmp/fuelgate-systemd.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  rc=0
  unshare --mount --propagation private "$(readlink -f "$0")" --inside "$deb" "$work" || rc=$?
  exit $rc
fi

deb=$2
work=$3
R=$work/root
source "$(dirname "$(readlink -f "$0")")/package-checklib.sh"
wait_for() { poll 300 0.1 "$@"; }
# The same for up to 2 minutes.
wait_long() { poll 240 0.5 "$@"; }

# ---------------------------------------------------------------- the container
mkdir -p "$R" "$work/upper" "$work/ovl"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/ovl" "$R"
# systemd-nspawn keeps its own files below /run; this namespace gets a /run of its own.
mount -t tmpfs tmpfs /run
if chroot "$R" dpkg-query -W fuelgate >/dev/null 2>&1; then
  echo "package-systemd-test: fuelgate is installed on this machine; test it on a clean one" >&2
  exit 1
fi
# A container's policy-rc.d forbids starting services; here they must start.
rm -f "$R/usr/sbin/policy-rc.d"
cp "$deb" "$R/root/fuelgate.deb"
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -R "$deb" "$work/next"
sed -i "s/^Version: .*/Version: ${version}+next1/" "$work/next/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/next" "$R/root/fuelgate-next.deb" >/dev/null

systemd-nspawn -D "$R" -M fuelgate-test --boot --register=no --keep-unit --link-journal=no \
  --private-network --quiet >"$work/console.log" 2>&1 &
nspawn=$!
stop_container() {
  if kill -0 "$nspawn" 2>/dev/null; then
    in_box systemctl poweroff >/dev/null 2>&1 || true
    for _ in $(seq 100); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$nspawn" 2>/dev/null || true
  fi
  wait "$nspawn" 2>/dev/null || true
}
trap stop_container EXIT
box=
find_box() {
  box=$(pgrep -P "$nspawn" -x systemd | head -1)
  [ -n "$box" ]
}
if ! wait_for find_box; then
  tail -5 "$work/console.log" | sed 's/^/     /'
  echo "package-systemd-test: the container did not boot here; skipped"
  exit 0
fi
in_box() { nsenter -t "$box" -a "$@"; }
# The container's systemd answers only once it has set itself up; until then systemctl fails.
booted() {
  state=$(in_box systemctl is-system-running 2>/dev/null || true)
  [ "$state" = running ] || [ "$state" = degraded ]
}
state=
for _ in $(seq 180); do
  if booted || ! kill -0 "$nspawn" 2>/dev/null; then break; fi
  sleep 1
done
if ! kill -0 "$nspawn" 2>/dev/null; then
  tail -5 "$work/console.log" | sed 's/^/     /'
  echo "package-systemd-test: the container ended while booting here; skipped"
  exit 0
fi
if ! booted; then
  tail -20 "$work/console.log" | sed 's/^/     /'
  echo "FAIL systemd in the container did not come up in 3 minutes (state: ${state:-none})"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "== container booted ($state)"

active() { [ "$(in_box systemctl is-active "$1" 2>/dev/null)" = active ]; }
main_pid() { in_box systemctl show -p MainPID --value "$1"; }
user_of() { in_box ps -o user= -p "$(main_pid "$1")" 2>/dev/null | tr -d ' '; }
in_log() { in_box grep -q "$2" "/var/log/fuelgate/$1" 2>/dev/null; }
count_in_log() { in_box grep -c "$2" "/var/log/fuelgate/$1" 2>/dev/null || true; }
segment() { in_box ipcs -m | awk '$3 == "fuelgate" { print $2 }'; }
http_code() {
  nsenter -t "$box" -n curl -s -o /dev/null -w '%{http_code}' \
    'http://127.0.0.1:8080/api/fuelweb/ping?apikey=client,server-key,station-key&columnId=1' || true
}
answers_401() { [ "$(http_code)" = 401 ]; }
both_active() { active fuelweb.service && active pcuMonitorServer.service; }
absent() { ! in_box test -e "$1"; }
stopped() { ! in_box systemctl is-active --quiet "$1"; }
no_fuelgate_process() { ! in_box pgrep -u fuelgate >/dev/null; }

# ---------------------------------------------------------------- install
echo "== install"
check "dpkg -i installs the package" in_box dpkg -i /root/fuelgate.deb
for unit in pcuMonitorServer.service fuelweb.service; do
  check "$unit enabled" test "$(in_box systemctl is-enabled "$unit")" = enabled
  check "$unit active" wait_for active "$unit"
  check "$unit runs as fuelgate" test "$(user_of "$unit")" = fuelgate
done
sleep 2
check "the monitor stays in the foreground under systemd (still its unit's main process)" \
  test "$(in_box ps -o args= -p "$(main_pid pcuMonitorServer.service)" | cut -d' ' -f1)" = /usr/sbin/pcuMonitorServer
check "no pid file" absent /run/fuelgate/pcuMonitorServer.pid
check "key file /run/fuelgate/trkstat.mem" in_box test -e /run/fuelgate/trkstat.mem
shmid=$(segment)
check "the pump table's segment belongs to fuelgate" test -n "$shmid"
check "the monitor's errors go to pcuMonitorServer.err" wait_for in_box test -s /var/log/fuelgate/pcuMonitorServer.err
check "fuelweb logs to fuelweb.log" wait_for in_log fuelweb.log "Запуск приложения"
check "fuelweb answers, and refuses the keys of the shipped configuration" wait_for answers_401

echo "== reload and log rotation"
pid=$(main_pid fuelweb.service)
check "systemctl reload fuelweb" in_box systemctl reload fuelweb.service
check "fuelweb starts a new cycle on the reload" wait_for in_log fuelweb.log "Рестарт приложения"
check "in the same process" test "$(main_pid fuelweb.service)" = "$pid"
check "logrotate runs the installed file" \
  in_box logrotate -f -s /var/lib/logrotate/fuelgate-test.status /etc/logrotate.d/fuelgate
check "fuelweb.log moved aside" in_box test -s /var/log/fuelgate/fuelweb.log.1
check "fuelweb writes into the new fuelweb.log" wait_for in_log fuelweb.log "Запуск приложения"
check "pcuMonitorServer.err copied aside" in_box test -s /var/log/fuelgate/pcuMonitorServer.err.1
check "the monitor keeps writing into the truncated pcuMonitorServer.err" \
  wait_for in_box test -s /var/log/fuelgate/pcuMonitorServer.err
check "both still active" both_active
check "fuelweb still answers" wait_for answers_401

# ---------------------------------------------------------------- notify, check, watchdog
echo "== readiness, configuration check, watchdog"
status_text() { in_box systemctl show -p StatusText --value "$1"; }
status_names_orders() { status_text fuelweb.service | grep -q "заказов в работе"; }
check "systemctl status shows fuelweb's pumps and orders" wait_for status_names_orders
check "the monitor said it is ready with its segment" \
  sh -c "nsenter -t $box -a systemctl show -p StatusText --value pcuMonitorServer.service | grep -q trkstat.mem"
pid=$(main_pid fuelweb.service)
restarts_before=$(count_in_log fuelweb.log "Рестарт приложения")
in_box cp /etc/fuelgate/config.json /root/config.json.good
in_box sed -i 's/"port": 8080/"port": "8080"/' /etc/fuelgate/config.json
check "fuelweb --check-config finds the quoted port" \
  sh -c "nsenter -t $box -a /usr/sbin/fuelweb --check-config -c /etc/fuelgate/config.json | grep -q service.port"
check "systemctl reload refuses the broken file" sh -c "! nsenter -t $box -a systemctl reload fuelweb.service"
check "the refused reload sent no signal" test "$(count_in_log fuelweb.log "Рестарт приложения")" = "$restarts_before"
check "fuelweb runs on, in the same process" test "$(main_pid fuelweb.service)" = "$pid"
in_box cp /root/config.json.good /etc/fuelgate/config.json
check "the reload takes the mended file" in_box systemctl reload fuelweb.service

# A request thread made to hang (the test-only hook), and a short watchdog: systemd must end the
# service once the stall limit (30 s at least) and WatchdogSec have passed, and start it again.
in_box mkdir -p /etc/systemd/system/fuelweb.service.d
in_box sh -c 'printf "[Service]\nWatchdogSec=3\nEnvironment=FUELWEB_TEST_HANG_WORKER=1\n" \
  >/etc/systemd/system/fuelweb.service.d/watchdog-test.conf'
in_box systemctl daemon-reload
in_box systemctl restart fuelweb.service
check "fuelweb with the hang hook is active" wait_for active fuelweb.service
hung_pid=$(main_pid fuelweb.service)
n_restarts=$(in_box systemctl show -p NRestarts --value fuelweb.service)
check "fuelweb answers nothing while its worker hangs" test "$(
  nsenter -t "$box" -n curl -s -m 3 -o /dev/null -w '%{http_code}' \
    'http://127.0.0.1:8080/api/fuelweb/ping?apikey=client,server-key,station-key&columnId=1' || true)" = 000
restarted() {
  local p
  p=$(main_pid fuelweb.service)
  [ "$(in_box systemctl show -p NRestarts --value fuelweb.service)" -gt "$n_restarts" ] &&
    [ -n "$p" ] && [ "$p" != 0 ] && [ "$p" != "$hung_pid" ]
}
check "systemd restarts the hung fuelweb (watchdog)" wait_long restarted
check "fuelweb said which thread stopped" in_log fuelweb.log "Поток 'http worker' не подаёт признаков работы"
in_box rm -f /etc/systemd/system/fuelweb.service.d/watchdog-test.conf
in_box systemctl daemon-reload
in_box systemctl restart fuelweb.service
check "fuelweb active again without the hook" wait_for active fuelweb.service
check "fuelweb answers again" wait_for answers_401

# ---------------------------------------------------------------- upgrade
echo "== upgrade"
in_box sed -i 's/"ctl_key": *"[^"]*"/"ctl_key": "operator-station-key"/' /etc/fuelgate/config.json
in_box sh -c 'echo operator >/var/lib/fuelgate/marker'
web_pid=$(main_pid fuelweb.service)
mon_pid=$(main_pid pcuMonitorServer.service)
check "dpkg -i upgrades to ${version}+next1" in_box dpkg -i /root/fuelgate-next.deb
check "the operator's configuration is kept" in_box grep -q operator-station-key /etc/fuelgate/config.json
check "the state is kept" in_box grep -q operator /var/lib/fuelgate/marker
check "the logs are kept" in_box test -s /var/log/fuelgate/fuelweb.log.1
for unit in pcuMonitorServer.service fuelweb.service; do
  check "$unit active after the upgrade" wait_for active "$unit"
done
check "fuelweb restarted" test "$(main_pid fuelweb.service)" != "$web_pid"
check "the monitor restarted" test "$(main_pid pcuMonitorServer.service)" != "$mon_pid"
check "the pump table is the same segment after the restarts" test "$(segment)" = "$shmid"
check "fuelweb answers after the upgrade" wait_for answers_401

# ---------------------------------------------------------------- remove, purge
echo "== remove"
check "dpkg -r removes the package" in_box dpkg -r fuelgate
for unit in pcuMonitorServer.service fuelweb.service; do
  check "$unit stopped" stopped "$unit"
done
check "no process of fuelgate left" no_fuelgate_process
check "the monitor stopped cleanly" wait_for in_log pcuMonitorServer.log "Остановка демона по сигналу : 15"
check "fuelweb stopped cleanly" wait_for in_log fuelweb.log "Завершение работы приложения"
check "the configuration is kept" in_box grep -q operator-station-key /etc/fuelgate/config.json
check "the state is kept" in_box test -e /var/lib/fuelgate/marker

echo "== purge"
check "dpkg -P purges the package" in_box dpkg -P fuelgate
for path in /etc/fuelgate /var/log/fuelgate /run/fuelgate; do
  check "$path removed" absent "$path"
done
check "/var/lib/fuelgate holds only the state file's copy" \
  in_box sh -c 'n=$(ls /var/lib/fuelgate | wc -l); k=$(ls /var/lib/fuelgate | grep -c "^state\.db\.purged-")
                [ "$n" -ge 1 ] && [ "$n" = "$k" ]'
check "installed again, FUELGATE_PURGE_STATE=1 dpkg -P purges it" \
  in_box sh -c 'dpkg -i /root/fuelgate.deb >/dev/null && FUELGATE_PURGE_STATE=1 dpkg -P fuelgate >/dev/null'
check "/var/lib/fuelgate removed, the copy included" absent /var/lib/fuelgate
check "the segment is removed" test -z "$(segment)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
