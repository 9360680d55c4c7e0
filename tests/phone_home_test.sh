#!/usr/bin/env bash
# The phone-home report on real sockets: a second host on a veth link hears the broadcast and,
# as the collector, the unicast, both byte for byte with consecutive sequence numbers; the
# debug file holds the request text with the UPS host name's space written "%20".
#
# Runs in a network namespace of its own (nested in whatever namespace it was started in), so
# nothing it sends can leave the machine. The second host is a further namespace held by a
# sleeping process; every process started here is stopped by its PID.
#
# usage: bash tests/phone_home_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: phone_home_test.sh BUILD_DIR}" && pwd)
PROBE="$BUILD/tw_ups_probe"
LISTEN="$BUILD/tw_syslog_probe"

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"


[ -x "$PROBE" ] || fail "missing $PROBE"
[ -x "$LISTEN" ] || fail "missing $LISTEN"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

# shellcheck source=tests/second_host.sh
source "$(dirname "$0")/second_host.sh"
start_second_host 10.78.0.1/24 10.78.0.2/24 || fail "second host did not come up"

HOST_NAME=$(uname -n)
SERVER="phonehome.example/ordo/ordoisapi.dll/UPSPhoneHome"

echo "== broadcast, then unicast to the collector"
start_bg on_b "$LISTEN" listen 0.0.0.0 514 2 3000 "$WORK/ready" >"$WORK/heard"
LISTENER=$!
wait_until 5 '[ -f "$WORK/ready" ]' || fail "listener did not start"
mkdir "$WORK/svc"
SUMMARY=$("$PROBE" phonehome "$WORK/svc" "$SERVER" 10.78.0.2 "UPS Room 2")
wait "$LISTENER"

WANT_SUMMARY='PhoneHome: HOST="UPS Room 2", STATE="OnLine", TEMP=26.5, MAX TEMP=29, InputVoltage=230'
[ "$SUMMARY" = "$WANT_SUMMARY" ] || fail "summary: $SUMMARY"
first="<7>VOZIvazure:00001 $WANT_SUMMARY H=\"$HOST_NAME\" (ID=72000)"
second="<7>VOZIvazure:00002 $WANT_SUMMARY H=\"$HOST_NAME\" (ID=72000)"
want=$(printf '10.78.0.1 %s\n10.78.0.1 %s\n' "$(hex "$first")" "$(hex "$second")")
got=$(cat "$WORK/heard")
[ "$got" = "$want" ] || fail "the collector heard:
$got
wanted:
$want"

DEBUG="$SERVER?HostName=$HOST_NAME&UPSHostName=UPS%20Room%202&UPSState=OnLine&UPSTemp=26.5&Temp=26.5&PollPeriod=0&Version=1.0.0.5"
[ "$(cat "$WORK/svc/Debug-apc.PhoneHome.txt")" = "$DEBUG" ] ||
  fail "debug file: $(cat "$WORK/svc/Debug-apc.PhoneHome.txt")"
[ "$(wc -c <"$WORK/svc/Debug-apc.PhoneHome.txt")" -eq "${#DEBUG}" ] || fail "debug file has a line end"
[ -z "$(find "$WORK/svc" -name 'E!*')" ] || fail "exception report written"
echo "heard both datagrams from 10.78.0.1"
echo "PASS"
