#!/usr/bin/env bash
# "TemperatureOID" and "TemperatureScale" against Debian's snmpd standing in for a card that
# has the high-precision battery temperature (tenths), an environmental probe and a universal
# I/O sensor (pass_persist, tests/ups_pass_persist.sh): "tempwarden /query" prints the object,
# its type and the scaled value; the service records the scaled value in its history and names
# the object in its start entry; an unusable OID is named (40200) and the default read.
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/temperature_objects_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: temperature_objects_test.sh BUILD_DIR}" && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
[ -x /usr/sbin/snmpd ] || skip "snmpd is not installed"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
on_fail() { tail -n 20 "$SVC"/APC-*.CSV "$WORK/service.out" 2>/dev/null | cut -c1-300 >&2 || true; }

TENTHS=1.3.6.1.4.1.318.1.1.1.2.3.2.0       # upsHighPrecBatteryTemperature.0
PROBE=1.3.6.1.4.1.318.1.1.10.2.3.2.1.4.1   # iemStatusProbeCurrentTemp, probe 1
SENSOR=1.3.6.1.4.1.318.1.1.25.1.2.1.6.1.1  # uioSensorStatusTemperatureDegC, port 1 sensor 1
mkdir -p "$WORK/objects"
printf 'gauge\n275\n' >"$WORK/objects/$TENTHS"
printf 'integer\n22\n' >"$WORK/objects/$PROBE"
printf 'integer\n23\n' >"$WORK/objects/$SENSOR"
echo 27 >"$WORK/temperature"
echo 231 >"$WORK/voltage"
start_snmpd "$WORK" || fail "snmpd did not start"
service_copy "$BUILD"

settings() {  # settings KEY=VALUE...: the card on loopback plus these
  write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
    PhoneHomeServer= "$@"
}

echo "== /query names the object, its type and the scaled value"
STAMP='^[0-9]+/[0-9]+/[0-9]{4} [0-9]+:[0-9]{2}:[0-9]{2}( [AP]M)? '
# OID | scale | exit status | the temperature line
while IFS='|' read -r oid scale want line; do
  [ -n "$oid" ] || continue
  settings "TemperatureOID=$oid" "TemperatureScale=$scale"
  status=0
  OUT=$(cd / && LC_ALL=C "$SVC/tempwarden" /query 2>&1) || status=$?
  echo "$OUT"
  [ "$status" -eq "$want" ] || fail "exit status $status, $want wanted, for $oid"
  grep -qE "$STAMP$line\$" <<<"$OUT" || fail "no line \"$line\" for $oid"
done <<TABLE
$TENTHS|0.1|0|temperature \($TENTHS, Gauge32 275 x 0\.1\): 27\.5
.$TENTHS|0.1|0|temperature \($TENTHS, Gauge32 275 x 0\.1\): 27\.5
$PROBE|1|0|temperature \($PROBE, INTEGER\): 22
$SENSOR||0|temperature \($SENSOR, INTEGER\): 23
1.3.6.1.4.1.318.1.1.10.2.3.2.1.4.2|1|1|temperature \(1\.3\.6\.1\.4\.1\.318\.1\.1\.10\.2\.3\.2\.1\.4\.2\): no answer: the card does not provide the object.*
TABLE

echo "== the service records the scaled value of the tenths object"
settings "TemperatureOID=$TENTHS" TemperatureScale=0.1 TempSleep=2 VoltageSleep=1 AlarmTemp=40
(cd "$SVC" && LC_ALL=C exec ./tempwarden -console >"$WORK/service.out" 2>&1) &
SERVICE=$!
track_pid "$SERVICE"
wait_until 15 'grep -q "^27\.5$" "$SVC/UPS-Temp.txt" 2>/dev/null && ls "$SVC"/APCUPSTempLog_2*.csv >/dev/null 2>&1' ||
  fail "no sample of 27.5"
stop_pid "$SERVICE"
grep -q ',27\.5' "$(ls "$SVC"/APCUPSTempLog_2*.csv | head -n1)" || fail "the history row is not 27.5"
grep -q "\[UPSTemp=27\.5\].*\[StartupRetry=0\]\[TemperatureOID=$TENTHS\]\[TemperatureScale=0\.1\]" \
  "$SVC"/APC-*.CSV || fail "the start entry does not name the object"

echo "== an OID that is no numeric identifier: named, and the default object read"
settings TemperatureOID=upsHighPrecBatteryTemperature.0
OUT=$(cd "$SVC" && LC_ALL=C ./tempwarden /query 2>&1) || fail "/query failed: $OUT"
echo "$OUT"
grep -qE "${STAMP}temperature \(1\.3\.6\.1\.4\.1\.318\.1\.1\.1\.2\.2\.2\.0, Gauge32\): 27\$" <<<"$OUT" ||
  fail "the default object was not read"
echo "PASS"
