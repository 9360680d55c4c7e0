#!/usr/bin/env bash
# The Debian package on a booted system: systemd as PID 1 in a container of the test's own
# (systemd-nspawn --boot over an overlay of the machine's own root, on a tmpfs that goes with
# the test; --private-network, so the container has its own loopback and nothing else). Through
# the .deb that CPack builds: the upgrade from the old layout in /opt/tempwarden (settings,
# history and logs moved and said so), the service started by the package and reading Debian's
# snmpd on the container's 127.0.0.1 (ready only with its first reading), its account unable
# to write the program, its folder or its settings, healthy under a short watchdog, stopped,
# restarted after a crash (SIGSEGV) and by the watchdog (SIGSTOP), after a crash that follows an
# administrator's restarts as well, a start failure (a data folder it cannot use) tried again
# and again, each try with one line at error priority that names it, a disabled service
# that a reinstall leaves disabled, policy-rc.d's 101 obeyed, two named instances side by side,
# each with its own data and restarted by a reinstall, the status telling since when the UPS
# is silent once snmpd is gone, and a removal that stops them all and keeps their data.
#
# Skipped with one line where the machine cannot boot a container (no root, no overlayfs,
# systemd-nspawn refused or the container never came up); the line tells what failed.
# usage: bash tests/nspawn_boot_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: nspawn_boot_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"
for tool in systemd-nspawn nsenter unshare cpack dpkg-deb; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ -x /usr/sbin/snmpd ] || skip "snmpd is missing"
[ -x /lib/systemd/systemd ] || skip "no systemd to boot"
[ -f "$BUILD/CPackConfig.cmake" ] || skip "no CPack configuration in $BUILD"
[ "$(id -u)" -eq 0 ] || skip "booting a container needs root"
# A mount namespace of its own (the overlay and the tmpfs below go with it), then a network
# namespace of its own around systemd-nspawn as well.
if [ "${TW_NSPAWN_MOUNTS_OF:-}" != "$0" ]; then
  exec env TW_NSPAWN_MOUNTS_OF="$0" unshare -m --propagation private -- bash "$0" "$@"
fi
own_network_namespace "$0" "$@"
# A command that ends the script unexpectedly says which (the steps above have their own words).
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR

WORK=$(mktemp -d)
# --one-file-system: never into the overlay of / should its unmount below have failed.
at_exit 'rm -rf --one-file-system "$WORK"'
LOG="$WORK/console.log"
on_fail() {
  echo "--- last dpkg run"
  cat "$WORK/dpkg.out" 2>/dev/null || true
  echo "--- container console (last lines)"
  tail -n 30 "$LOG" 2>/dev/null || true
  echo "--- journal of the container (last lines)"
  [ -z "${LEADER:-}" ] || in_box journalctl --no-pager -n 60 2>/dev/null || true
}

echo "-- the container: an overlay of / on a tmpfs, systemd as PID 1, no network"
# shellcheck source=tests/nspawn_lib.sh
source "$HERE/nspawn_lib.sh"
boot_container
# The files the test hands in.
mkdir -p "$ROOT/tw-test/agent"
cp "$HERE/ups_pass_persist.sh" "$ROOT/tw-test/agent/agent.sh"
chmod 700 "$ROOT/tw-test/agent/agent.sh"
echo 27 >"$ROOT/tw-test/agent/temperature"
echo 230 >"$ROOT/tw-test/agent/voltage"
cat >"$ROOT/tw-test/agent/snmpd.conf" <<CONF
agentAddress udp:127.0.0.1:161
rocommunity public 127.0.0.1
pass_persist .1.3.6.1.4.1.318.1.1.1 /tw-test/agent/agent.sh
CONF
links=$(in_box ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')
[ "$links" = "lo " ] || fail "the container has network links besides its loopback: $links"

echo "-- the packages: the new one (cpack) and one of the old layout"
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/dist" >"$WORK/cpack.out" 2>&1 \
  || fail "cpack: $(cat "$WORK/cpack.out")"
deb=$(ls "$WORK"/dist/tempwarden_*.deb)
old="$WORK/old"
old_layout_deb "$BUILD" "$old" "$WORK/old.deb"

cp "$deb" "$WORK/old.deb" "$ROOT/tw-test/"
deb=/tw-test/$(basename "$deb")

echo "-- Debian's snmpd as the UPS card, on the container's own 127.0.0.1"
in_box systemd-run --quiet --unit=tw-ups --setenv=MIBS= \
  /usr/sbin/snmpd -f -C -c /tw-test/agent/snmpd.conf -I -smux -Lf /tw-test/agent/snmpd.log \
  || fail "snmpd in the container"
wait_until 10 'in_box grep -q " 0100007F:00A1 " /proc/net/udp' || fail "snmpd does not listen"

echo "-- the old layout: /opt/tempwarden, the unit VOZIvazure.service enabled"
dpkg_in_box() {
  in_box dpkg --force-confold -i "$@" </dev/null >"$WORK/dpkg.out" 2>&1 ||
    fail "dpkg -i $*: $(cat "$WORK/dpkg.out")"
}
dpkg_in_box /tw-test/old.deb
write_settings "$ROOT/opt/tempwarden/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public \
  SysLogTrap=7 TempSleep=2 VoltageSleep=1 AlarmTemp=40
echo "old history" >"$ROOT/opt/tempwarden/APCUPSTempLog_Today.csv"
in_box chown tempwarden:tempwarden /opt/tempwarden/TEMPWARDEN.XML /opt/tempwarden/APCUPSTempLog_Today.csv
in_box systemctl enable --quiet VOZIvazure.service || fail "enabling the old unit"

# Short times for the test, as an administrator's drop-in would set them: restarts after 1 s
# instead of 60, a watchdog of 6 s (the service pings at half of it), a frozen service killed
# 2 s after the watchdog's abort signal.
WATCHDOG=6
RESTART_SEC=1
mkdir -p "$ROOT/etc/systemd/system/tempwarden.service.d"
printf '[Service]\nRestartSec=%s\nWatchdogSec=%s\nTimeoutAbortSec=2\n' "$RESTART_SEC" "$WATCHDOG" \
  >"$ROOT/etc/systemd/system/tempwarden.service.d/test.conf"

echo "-- upgrade to the package: moved, said so, enabled under the new name, started"
dpkg_in_box "$deb"
grep -q "moved the settings from /opt/tempwarden to /etc/tempwarden/TEMPWARDEN.XML and the history and logs to /var/lib/tempwarden" \
  "$WORK/dpkg.out" || fail "the move is not said: $(cat "$WORK/dpkg.out")"
[ "$(head -1 "$ROOT/var/lib/tempwarden/APCUPSTempLog_Today.csv")" = "old history" ] \
  || fail "the history was not moved"
[ "$(in_box stat -c %U:%G:%a /etc/tempwarden/TEMPWARDEN.XML)" = root:tempwarden:640 ] \
  || fail "settings $(in_box stat -c %U:%G:%a /etc/tempwarden/TEMPWARDEN.XML)"
[ "$(in_box systemctl is-enabled tempwarden.service)" = enabled ] || fail "not enabled after the upgrade"
[ "$(prop VOZIvazure.service Id)" = tempwarden.service ] || fail "VOZIvazure.service is no alias"

echo "-- the service's account cannot write the program or its folder"
as_service() { in_box setpriv --reuid=tempwarden --regid=tempwarden --clear-groups "$@"; }
as_service sh -c 'echo x >>/usr/sbin/tempwarden' 2>/dev/null && fail "the account wrote the program"
as_service sh -c 'echo x >/usr/sbin/tw-replacement' 2>/dev/null && fail "the account wrote in /usr/sbin"
as_service mv -f /usr/sbin/tempwarden /usr/sbin/tempwarden.old 2>/dev/null && fail "the account moved the program"
as_service sh -c 'echo x >/etc/tempwarden/TEMPWARDEN.XML' 2>/dev/null && fail "the account wrote its settings"

echo "-- readings: the service reads snmpd; healthy, the watchdog leaves it alone"
started_at=$(tw_now_us)
wait_until 30 '[ "$(prop tempwarden.service ActiveState)" = active ]' \
  || fail "not active: $(in_box systemctl status --no-pager tempwarden.service)"
wait_until 20 '[[ "$(prop tempwarden.service StatusText)" == "[UPSTemp=27]"* ]]' \
  || fail "no reading in STATUS: $(prop tempwarden.service StatusText)"
echo "status: $(prop tempwarden.service StatusText)"
in_box systemctl status --no-pager tempwarden >/dev/null || fail "systemctl status tempwarden"
grep -q ',50200,' "$ROOT/var/lib/tempwarden/APC-$(date +%Y%m%d).CSV" 2>/dev/null \
  || fail "no start entry in the activity log: $(ls "$ROOT/var/lib/tempwarden")"
# Two watchdog periods of a healthy service: no restart.
wait_until $((3 * WATCHDOG)) '[ $(($(tw_now_us) - started_at)) -gt $((2 * WATCHDOG * 1000000)) ]' || true
[ "$(prop tempwarden.service NRestarts)" = 0 ] \
  || fail "a healthy service was restarted: $(in_box journalctl -u tempwarden --no-pager | tail -20)"

echo "-- stop"
t0=$(tw_now_us)
in_box systemctl stop tempwarden.service || fail "systemctl stop"
echo "stopped in $((($(tw_now_us) - t0) / 1000)) ms"
[ "$(prop tempwarden.service ActiveState)" = inactive ] && [ "$(prop tempwarden.service Result)" = success ] \
  || fail "stop: $(in_box systemctl status --no-pager tempwarden.service)"

echo "-- a crash (SIGSEGV) and a frozen service (SIGSTOP) are restarted"
in_box systemctl reset-failed tempwarden.service 2>/dev/null || true
in_box systemctl start tempwarden.service || fail "systemctl start"
# systemctl start returns at READY=1, which comes after the start phase: the first reading is
# there already.
[[ "$(prop tempwarden.service StatusText)" == "[UPSTemp=27]"* ]] \
  || fail "ready before the first reading: $(prop tempwarden.service StatusText)"
restarts=$(prop tempwarden.service NRestarts)
pid=$(prop tempwarden.service MainPID)
in_box kill -SEGV "$pid"
wait_until 30 '[ "$(prop tempwarden.service NRestarts)" = $((restarts + 1)) ] &&
  [ "$(prop tempwarden.service ActiveState)" = active ]' \
  || fail "no restart after SIGSEGV: $(in_box journalctl -u tempwarden --no-pager | tail -20)"
[ "$(prop tempwarden.service MainPID)" != "$pid" ] || fail "the same process after the crash"
pid=$(prop tempwarden.service MainPID)
in_box kill -STOP "$pid"
wait_until $((WATCHDOG + 30)) '[ "$(prop tempwarden.service NRestarts)" = $((restarts + 2)) ] &&
  [ "$(prop tempwarden.service ActiveState)" = active ]' \
  || fail "no restart by the watchdog: $(in_box journalctl -u tempwarden --no-pager | tail -20)"
in_box journalctl -u tempwarden.service --no-pager | grep -q 'Watchdog timeout' \
  || fail "the journal tells no watchdog timeout"
wait_until 20 '[[ "$(prop tempwarden.service StatusText)" == "[UPSTemp=27]"* ]]' \
  || fail "no reading after the restarts: $(prop tempwarden.service StatusText)"
echo "restarts: $(prop tempwarden.service NRestarts)"

echo "-- stopped and started twice by an administrator, then a crash: restarted all the same"
# As after the installation: a fresh start count, the package's start, then two by hand.
in_box systemctl reset-failed tempwarden.service 2>/dev/null || true
in_box systemctl restart tempwarden.service || fail "systemctl restart"
for i in 1 2; do
  in_box systemctl stop tempwarden.service || fail "systemctl stop ($i)"
  in_box systemctl start tempwarden.service || fail "systemctl start ($i)"
done
pid=$(prop tempwarden.service MainPID)
t0=$(tw_now_us)
in_box kill -SEGV "$pid"
wait_until $((RESTART_SEC + 10)) '[ "$(prop tempwarden.service ActiveState)" = active ] &&
  [ "$(prop tempwarden.service MainPID)" != "$pid" ]' \
  || fail "not running again after the crash: $(in_box systemctl status --no-pager tempwarden.service |
    tail -n 5)"
echo "running again $((($(tw_now_us) - t0) / 1000)) ms after the crash (RestartSec=$RESTART_SEC)"

echo "-- a start that fails (a data folder it cannot use) is tried again, each try saying why"
in_box systemctl stop tempwarden.service
in_box systemctl reset-failed tempwarden.service 2>/dev/null || true
# An administrator's drop-in that names a data folder which is not there.
broken="$ROOT/etc/systemd/system/tempwarden.service.d/zz-broken.conf"
printf '[Service]\nExecStart=\nExecStart=/usr/sbin/tempwarden -data /var/lib/tempwarden-gone -config /etc/tempwarden/TEMPWARDEN.XML\n' \
  >"$broken"
in_box systemctl daemon-reload
cursor=$(in_box journalctl --show-cursor -n 0 -q | sed -n 's/^-- cursor: //p')
in_box systemctl start tempwarden.service 2>/dev/null && fail "systemctl start succeeded"
# The program's own lines (stderr; systemd's are PID 1's), per process: one try each.
tries() {
  in_box journalctl -u tempwarden.service --after-cursor="$cursor" -o json --no-pager |
    python3 -c '
import collections, json, sys
lines = collections.defaultdict(list)
for entry in map(json.loads, sys.stdin):
    if entry.get("_TRANSPORT") == "stdout":
        lines[entry["_PID"]].append((int(entry.get("PRIORITY", 6)), entry.get("MESSAGE", "")))
for pid, said in lines.items():
    errors = [m for p, m in said if p <= 3]
    print("%s\t%d\t%s" % (pid, len(errors), " | ".join(errors)))
'
}
wait_until 30 '[ "$(tries | wc -l)" -ge 3 ]' \
  || fail "not tried again: $(tries); $(in_box systemctl status --no-pager tempwarden.service)"
in_box systemctl stop tempwarden.service
while IFS=$'\t' read -r try_pid count errors; do
  [ "$count" = 1 ] && [[ "$errors" == *"/var/lib/tempwarden-gone"* ]] \
    || fail "try $try_pid: $count lines at error priority: $errors"
done < <(tries)
echo "tries: $(tries | wc -l), each with one line at error priority:"
tries | head -n 1 | cut -f3
rm "$broken"
in_box systemctl daemon-reload
in_box systemctl reset-failed tempwarden.service

echo "-- a disabled service stays disabled (and stopped) across a reinstall"
in_box systemctl disable --quiet tempwarden.service
dpkg_in_box "$deb"
[ "$(in_box systemctl is-enabled tempwarden.service)" = disabled ] || fail "the reinstall enabled it"
[ "$(prop tempwarden.service ActiveState)" = inactive ] || fail "the reinstall started it"

echo "-- policy-rc.d's 101 is obeyed"
in_box systemctl enable --quiet tempwarden.service
printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
chmod 755 "$ROOT/usr/sbin/policy-rc.d"
dpkg_in_box "$deb"
[ "$(prop tempwarden.service ActiveState)" = inactive ] || fail "started against policy-rc.d"
grep -q 'policy-rc.d returned 101' "$WORK/dpkg.out" || fail "no word of policy-rc.d: $(cat "$WORK/dpkg.out")"
rm "$ROOT/usr/sbin/policy-rc.d"
dpkg_in_box "$deb"
wait_until 20 '[ "$(prop tempwarden.service ActiveState)" = active ]' \
  || fail "the reinstall without policy-rc.d did not start the enabled service"

echo "-- two named instances side by side, each with its own data"
for name in a b; do
  mkdir -p "$ROOT/etc/tempwarden/$name"
  write_settings "$ROOT/etc/tempwarden/$name/TEMPWARDEN.XML" UPSHost=127.0.0.1 \
    SNMPCommunity=public SysLogTrap=7 TempSleep=2 VoltageSleep=1 AlarmTemp=40
  in_box chown -R root:tempwarden "/etc/tempwarden/$name"
  in_box chmod 0750 "/etc/tempwarden/$name"
  in_box chmod 0640 "/etc/tempwarden/$name/TEMPWARDEN.XML"
done
in_box systemctl start tempwarden@a.service tempwarden@b.service || fail "starting the instances"
for name in a b; do
  wait_until 20 '[[ "$(prop "tempwarden@$name.service" StatusText)" == "[UPSTemp=27]"* ]]' \
    || fail "$name: no reading: $(in_box systemctl status --no-pager "tempwarden@$name.service")"
  grep -q ',50200,' "$ROOT/var/lib/tempwarden/$name/APC-$(date +%Y%m%d).CSV" 2>/dev/null \
    || fail "$name: no activity log of its own: $(ls "$ROOT/var/lib/tempwarden/$name")"
  [ "$(in_box stat -c %U:%a "/var/lib/tempwarden/$name")" = tempwarden:750 ] || fail "$name: data directory"
done
pids="$(prop tempwarden@a.service MainPID) $(prop tempwarden@b.service MainPID) $(prop tempwarden.service MainPID)"
[ "$(tr ' ' '\n' <<<"$pids" | sort -u | grep -cv '^0$')" = 3 ] || fail "not three processes: $pids"

echo "-- a reinstall restarts the running instances"
dpkg_in_box "$deb"
for name in a b; do
  wait_until 20 '[ "$(prop "tempwarden@$name.service" ActiveState)" = active ]' \
    || fail "$name: not running after the reinstall"
  [[ " $pids " != *" $(prop "tempwarden@$name.service" MainPID) "* ]] \
    || fail "$name: not restarted by the reinstall"
done

echo "-- the UPS gone: the status says since when it is not answering"
in_box systemctl stop tw-ups.service
wait_until 60 '[[ "$(prop tempwarden@a.service StatusText)" == "UPS not answering since "* ]]' \
  || fail "status with the UPS gone: $(prop tempwarden@a.service StatusText)"
echo "status: $(prop tempwarden@a.service StatusText)"

echo "-- removal stops the service and its instances, and keeps their data"
in_box dpkg -r tempwarden </dev/null >"$WORK/dpkg.out" 2>&1 || fail "dpkg -r: $(cat "$WORK/dpkg.out")"
for unit in tempwarden.service tempwarden@a.service tempwarden@b.service; do
  state=$(prop "$unit" ActiveState)
  [ "$state" = inactive ] || [ "$state" = failed ] || fail "$unit: $state after the removal"
done
[ ! -e "$ROOT/usr/sbin/tempwarden" ] || fail "the program stays"
[ -f "$ROOT/var/lib/tempwarden/a/APC-$(date +%Y%m%d).CSV" ] && [ -f "$ROOT/etc/tempwarden/b/TEMPWARDEN.XML" ] \
  || fail "the removal took the instances' data or settings"
echo "PASS"
