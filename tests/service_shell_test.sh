#!/usr/bin/env bash
# The real program on Linux: INSTALL / UNINSTALL into a redirected unit directory, and the
# service in CONSOLE mode against Debian's snmpd, stopped by SIGTERM.
#
# Runs in mount and network namespaces of its own: the account INSTALL creates lands in a
# private copy of /etc, and nothing it sends leaves the machine.
# usage: bash tests/service_shell_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: service_shell_test.sh BUILD_DIR}" && pwd)
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
# INSTALL creates the service's account: only in a private copy of /etc.
# shellcheck source=tests/private_etc.sh
source "$(dirname "$0")/private_etc.sh"
own_etc "$0" "$@"
own_network_namespace "$0" "$@"

HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

# The service writes beside its executable: give it a directory of its own.
mkdir -p "$WORK/svc" "$WORK/units" "$WORK/agent"
cp "$BUILD/tempwarden" "$WORK/svc/tempwarden"
EXE="$WORK/svc/tempwarden"
export TEMPWARDEN_UNIT_DIR="$WORK/units"

echo "-- install, a second install, uninstall"
out=$("$EXE" -Install -data "$WORK/data" 2>&1) || fail "install: $out"
[ "$out" = "Service installed successfully" ] || fail "install message: $out"
unit="$WORK/units/tempwarden.service"
[ -f "$unit" ] || fail "no unit file"
grep -qx 'Description=Tempwarden' "$unit" || fail "unit description"
grep -qx "ExecStart=\"$EXE\" -data \"$WORK/data\"" "$unit" || fail "unit ExecStart: $(cat "$unit")"
grep -qx "Alias=VOZIvazure.service" "$unit" || fail "no alias of the old name"
[ -d "$WORK/data" ] || fail "no data directory"
grep -qx 'WantedBy=multi-user.target' "$unit" || fail "unit start at boot"
[ -f "$WORK/units/VOZIvazure.key" ] || fail "no registry key beside the unit"
set +e
err=$("$EXE" /install /silent /data "$WORK/data" 2>&1 >/dev/null); rc=$?
set -e
[ $rc -ne 0 ] || fail "second install succeeded"
[ "$err" = 'Service "Tempwarden" failed to install with error: "The specified service already exists."' ] \
  || fail "second install message: $err"
out=$("$EXE" /uninstall /silent 2>&1) || fail "uninstall: $out"
[ -z "$out" ] || fail "SILENT still printed: $out"
[ ! -e "$unit" ] || fail "unit still there"
set +e
err=$("$EXE" -uninstall 2>&1 >/dev/null); rc=$?
set -e
[ $rc -ne 0 ] && [ -n "$err" ] || fail "uninstall of a missing service"
"$EXE" /install /silent /data "$WORK/data" >/dev/null || fail "reinstall"

echo "-- a data directory that cannot be used: one line at error priority, exit status 1"
mkdir -p "$WORK/cwd"
set +e
err=$(cd "$WORK/cwd" && JOURNAL_STREAM=8:1 "$EXE" -console -data "$WORK/missing" 2>&1 >/dev/null); rc=$?
set -e
[ $rc -eq 1 ] || fail "exit status $rc: $err"
[ "$(grep -c . <<<"$err")" -eq 1 ] || fail "more than one line: $err"
grep -qE '^<3>VOZIvazure: The monitoring stopped: EInOutError: The data directory "'"$WORK"'/missing/" cannot be used \(stage 100; exception report E!RAZIVED-[^ ]+\.XML\)$' <<<"$err" \
  || fail "the failure line: $err"

echo "-- CONSOLE against snmpd"
start_snmpd "$WORK/agent" || fail "snmpd"
write_settings "$WORK/svc/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
  TempSleep=2 VoltageSleep=1 AlarmTemp=40
start_bg "$EXE" -console >"$WORK/console.out" 2>&1
SERVICE=$!
log="$WORK/svc/APC-$(date +%Y%m%d).CSV"
wait_until 10 'grep -qs ",50200," "$log" && [ -f "$WORK/svc/D!Tempwarden.TXT" ]' || true
grep -q ',50100,"\[Function=TMonitorUPSService.ServiceStart\]"' "$log" || fail "no 50100 entry: $(cat "$log")"
grep -q ',50200,.*\[UPSTemp=27\]\[UPSState=OnLine\]\[UPSInputVoltage=230\]' "$log" \
  || fail "no 50200 entry: $(cat "$log")"
[ "$(cat "$WORK/svc/UPS-Input-Voltage.txt")" = "230" ] || fail "voltage file"
grep -q '^Description=Brindle v1.0.0.1 started at ' "$WORK/units/VOZIvazure.key" || fail "description"

# A voltage pass sees the mains fail within a couple of seconds.
echo 0 >"$WORK/agent/voltage"
wait_until 5 '[ "$(cat "$WORK/svc/UPS-Input-Voltage.txt")" = "0" ]' || true
[ "$(cat "$WORK/svc/UPS-Input-Voltage.txt")" = "0" ] || fail "voltage pass"
wait_until 3 'grep -q ",50300," "$log"' || true
grep -q ',50300,"\[Msg=UPS Online state change\]' "$log" || fail "no 50300 entry"

kill -TERM "$SERVICE"
start=$(date +%s%N)
wait_until 3 '! kill -0 "$SERVICE" 2>/dev/null' || fail "still running 3 s after SIGTERM"
wait "$SERVICE" || fail "exit code $?"
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "stopped ${elapsed_ms} ms after SIGTERM"
[ "$elapsed_ms" -lt 2500 ] || fail "slow stop: ${elapsed_ms} ms"
ls "$WORK/svc"/APCUPSTempLog_*.html >/dev/null 2>&1 || fail "no chart page"
ls "$WORK/svc"/APCUPSTempLog_*.csv >/dev/null 2>&1 || fail "no temperature file"

echo "-- a missing TEMPWARDEN.XML is created with the defaults"
rm "$WORK/svc/TEMPWARDEN.XML"
start_bg "$EXE" -console >/dev/null 2>&1
SERVICE=$!
wait_until 5 '[ -f "$WORK/svc/TEMPWARDEN.XML" ]' || true
kill -TERM "$SERVICE"; wait "$SERVICE" || true
[ "$(head -c 7 "$WORK/svc/TEMPWARDEN.XML" | od -An -tx1 | tr -d ' \n')" = 3c584d4c3e0d0a ] \
  || fail "default file"
[ "$(grep -c $'\r$' "$WORK/svc/TEMPWARDEN.XML")" = 22 ] || fail "default file has 22 lines"
"$EXE" /uninstall /silent
echo "PASS"
