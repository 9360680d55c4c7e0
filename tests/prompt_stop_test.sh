#!/usr/bin/env bash
# A stop request ends the real program within two seconds wherever it comes, with exit status 0
# and no file left half written: during the ten-minute start-up wait (the UPS was on battery
# when last seen), during a query that Debian's snmpd leaves without answer (the agent frozen
# with SIGSTOP), and during a mail exchange with a relay that accepts the connection and never
# says a word. Then the wall clock of the real program is stepped back an hour under libfaketime
# and its passes go on, with one activity-log entry for the step.
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/prompt_stop_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: prompt_stop_test.sh BUILD_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
if [ ! -x /usr/sbin/snmpd ] || ! /usr/bin/python3 -c "import aiosmtpd" 2>/dev/null; then
  skip "snmpd or python3-aiosmtpd is not installed (./test.sh installs them)"
fi
FAKETIME_LIB=$(ls /usr/lib/*/faketime/libfaketimeMT.so.1 2>/dev/null | head -n1 || true)
[ -n "$FAKETIME_LIB" ] || fail "libfaketime is not installed (./test.sh installs faketime)"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

start_snmpd "$WORK/agent" || fail "snmpd did not start"

start_bg /usr/bin/python3 "$SOURCE/tests/smtp_server.py" --silent --transcript "$WORK/mail.txt" \
  --raw "$WORK/mail.raw" >"$WORK/relay.out" 2>"$WORK/relay.err"
wait_until 10 'grep -q "^READY " "$WORK/relay.out"' ||
  fail "SMTP relay did not start: $(cat "$WORK/relay.err")"
SMTP_PORT=$(sed -n 's/^READY //p' "$WORK/relay.out")

# A fresh service directory: $1 the alarm level, $2 the voltage file ("" for none).
prepare() {
  SVC="$WORK/svc-$RANDOM"
  mkdir -p "$SVC"
  cp "$BUILD/tempwarden" "$SVC/tempwarden"
  write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
    PhoneHomeServer= TempSleep=2 VoltageSleep=1 AlarmTemp="$1" EmailToAddr=ops@example.test \
    SMTPRelay=127.0.0.1 SMTPPort="$SMTP_PORT" EmailFromAddr=tempwarden@example.test \
    SyslogCollector=127.0.0.1 PhoneHomeCollector=127.0.0.1
  [ -z "$2" ] || printf '%s' "$2" >"$SVC/UPS-Input-Voltage.txt"
}

start_service() {  # extra environment as arguments
  start_bg env LC_ALL=C "$@" "$SVC/tempwarden" -console >"$SVC/service.out" 2>&1
  SERVICE=$!
}

# SIGTERM, then: gone within 2 s, exit status 0, every file complete.
stop_within_two_seconds() {
  local what=$1 started ended status=0
  started=$(date +%s%N)
  kill -TERM "$SERVICE"
  wait "$SERVICE" || status=$?
  ended=$(date +%s%N)
  local ms=$(((ended - started) / 1000000))
  echo "   $what: ended $ms ms after SIGTERM, status $status"
  [ "$ms" -le 2000 ] || fail "$what: the service took $ms ms to stop"
  [ "$status" -eq 0 ] || fail "$what: exit status $status"
  local f
  for f in "$SVC"/*.html; do
    [ -e "$f" ] || continue
    [ "$(tail -c 9 "$f" | od -An -tx1 | tr -d ' \n')" = 3c2f68746d6c3e0d0a ] ||
      fail "$what: $f is cut off: $(tail -c 40 "$f")"
  done
  for f in "$SVC"/*.csv "$SVC"/*.CSV; do
    [ -s "$f" ] || continue
    [ "$(tail -c 2 "$f" | od -An -tx1 | tr -d ' \n')" = 0d0a ] || fail "$what: $f ends mid-line"
  done
  [ -z "$(find "$SVC" -name 'E!*')" ] || fail "$what: exception report: $(cat "$SVC"/E\!*)"
}

echo "== a stop during the start-up wait"
prepare 45 0
start_service
wait_until 10 'grep -q ",50100,\"" "$SVC"/APC-*.CSV 2>/dev/null' || fail "service did not start"
sleep 1
stop_within_two_seconds "start-up wait"
[ ! -e "$SVC/APCUPSTempLog_Today.html" ] || fail "the start-up wait was not waited"

echo "== a stop during a query the agent leaves without answer"
prepare 45 ""
start_service
wait_until 10 'grep -q ",50200,\"" "$SVC"/APC-*.CSV 2>/dev/null' || fail "no start-up readings"
kill -STOP "$SNMPD_PID"
sleep 2  # a voltage pass is due every second: its query now waits for an answer
stop_within_two_seconds "silent agent"
kill -CONT "$SNMPD_PID"

echo "== a stop during a mail exchange with a relay that never answers"
prepare 20 ""  # the agent's 27 degrees raise the alarm at the first pass
start_service
port_hex=$(printf '%04X' "$SMTP_PORT")
wait_until 10 "grep -q ':$port_hex 01 ' /proc/net/tcp" || fail "no connection to the relay"
sleep 0.5
stop_within_two_seconds "silent relay"

echo "== the wall clock stepped back an hour"
prepare 45 ""
echo "+0" >"$WORK/faketime"
start_service LD_PRELOAD="$FAKETIME_LIB" FAKETIME_TIMESTAMP_FILE="$WORK/faketime" \
  FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1
wait_until 10 'grep -q ",50200,\"" "$SVC"/APC-*.CSV 2>/dev/null' || fail "no start-up readings"
echo "-3600" >"$WORK/faketime"
wait_until 5 'grep -q "\[Msg=Clock step\]\[Seconds=-3600\]" "$SVC"/APC-*.CSV' ||
  fail "no entry for the clock step: $(tail -n 5 "$SVC"/APC-*.CSV)"
# The passes go on: the mains failure is seen by the voltage passes after the step.
echo 0 >"$WORK/agent/voltage"
wait_until 5 'grep -q ",50300,\".*\[InputVoltage=0\]" "$SVC"/APC-*.CSV' ||
  fail "no voltage pass after the step"
echo 230 >"$WORK/agent/voltage"
[ "$(grep -c "\[Msg=Clock step\]" "$SVC"/APC-*.CSV)" -eq 1 ] || fail "the step was logged more than once"
stop_within_two_seconds "after the clock step"

echo "PASS"
