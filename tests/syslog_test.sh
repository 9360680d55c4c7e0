#!/usr/bin/env bash
# The syslog sender against real peers: a second host on a veth link receives the broadcast
# through every local address with the exact bytes, and Debian's rsyslog parses the datagrams.
#
# Runs in a network namespace of its own (nested in whatever namespace it was started in), so
# nothing it sends can leave the machine. The second host is a further namespace held by a
# sleeping process; every process started here is stopped by its PID.
#
# usage: bash tests/syslog_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: syslog_test.sh BUILD_DIR}" && pwd)
PROBE="$BUILD/tw_syslog_probe"

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"


[ -x "$PROBE" ] || fail "missing $PROBE"
RSYSLOGD=/usr/sbin/rsyslogd
[ -x "$RSYSLOGD" ] || fail "rsyslog is not installed (./test.sh installs it)"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

# shellcheck source=tests/second_host.sh
source "$(dirname "$0")/second_host.sh"
start_second_host 10.77.0.1/24 10.77.0.2/24 || fail "second namespace did not come up"
ip addr add 10.77.0.3/24 dev twa0  # this host has two addresses on the link

HOST_NAME=$(uname -n)

echo "== broadcast through every local address reaches the second host byte for byte"
start_bg on_b "$PROBE" listen 0.0.0.0 514 3 1500 "$WORK/ready" >"$WORK/heard"
LISTENER=$!
wait_until 5 '[ -f "$WORK/ready" ]' || fail "listener did not start"
mkdir "$WORK/a"
MSG='[Function=TVOZIvazure.ServiceStart] "quoted"'
"$PROBE" send "$WORK/a" "" 71001 "$MSG" >"$WORK/sent"
wait "$LISTENER"
EXPECTED="<7>VOZIvazure:00001 $MSG H=\"$HOST_NAME\" (ID=71001)"
[ "$(head -n1 "$WORK/sent")" = "$EXPECTED" ] || fail "payload built: $(head -n1 "$WORK/sent")"
want=$(printf '10.77.0.1 %s\n10.77.0.3 %s\n' "$(hex "$EXPECTED")" "$(hex "$EXPECTED")")
got=$(sort "$WORK/heard")
[ "$got" = "$want" ] || fail "second host heard:
$got
wanted:
$want"
echo "heard $(wc -l <"$WORK/heard") datagrams, one from each address"

echo "== Debian's rsyslog parses tag, severity and message"
mkdir "$WORK/spool"
cat >"$WORK/rsyslog.conf" <<EOF
global(workDirectory="$WORK/spool")
module(load="imudp")
input(type="imudp" address="0.0.0.0" port="514")
template(name="TwFields" type="list") {
  constant(value="tag=") property(name="syslogtag")
  constant(value="|programname=") property(name="programname")
  constant(value="|severity=") property(name="syslogseverity")
  constant(value="|msg=") property(name="msg")
  constant(value="\n")
}
*.* action(type="omfile" file="$WORK/received.log" template="TwFields")
EOF
# A profile confining /usr/sbin/rsyslogd (AppArmor) would keep it from this configuration and
# log file; a private copy of the same program is not confined.
if [ "$(cat /sys/module/apparmor/parameters/enabled 2>/dev/null || true)" = "Y" ]; then
  cp "$RSYSLOGD" "$WORK/rsyslogd"
  RSYSLOGD="$WORK/rsyslogd"
fi
start_bg on_b "$RSYSLOGD" -n -f "$WORK/rsyslog.conf" -i "$WORK/rsyslogd.pid"
RSYSLOG=$!
wait_until 5 'on_b ss -Hlun "sport = :514" | grep -q 514' || fail "rsyslogd did not start"

"$PROBE" send "$WORK/a" 10.77.0.2 5003 'EXCEPTION:Func=toolbelt.LogEntry Trace=120' >/dev/null
"$PROBE" send "$WORK/a" "" 42000 'warning: <5> & "more"' >/dev/null
wait_until 5 '[ "$(wc -l <"$WORK/received.log" 2>/dev/null || echo 0)" -ge 3 ]' ||
  fail "rsyslog received: $(cat "$WORK/received.log" 2>/dev/null)"
kill "$(cat "$WORK/rsyslogd.pid")"
wait "$RSYSLOG" || true
cat "$WORK/received.log"
grep -qxF "tag=VOZIvazure:|programname=VOZIvazure|severity=0|msg=00001 EXCEPTION:Func=toolbelt.LogEntry Trace=120 H=\"$HOST_NAME\" (ID=05003)" \
  "$WORK/received.log" || fail "unicast 5003 not parsed as severity 0"
[ "$(grep -cxF "tag=VOZIvazure:|programname=VOZIvazure|severity=4|msg=00001 warning: <5> & \"more\" H=\"$HOST_NAME\" (ID=42000)" \
  "$WORK/received.log")" -eq 2 ] || fail "broadcast 42000 not parsed twice as severity 4"

echo "== failures: an unknown name leaves a report, an unreachable network none"
mkdir "$WORK/b" "$WORK/c"
out=$("$PROBE" send "$WORK/b" no-such-host.invalid 72000 'phone home')
[ "$(tail -n1 <<<"$out")" = "reports=1" ] || fail "unknown name: $out"
grep -q "<Function>toolbelt.UniticastUDPPacket:200</Function>" "$WORK"/b/E\!RAZIVED-*.XML ||
  fail "report does not name toolbelt.UniticastUDPPacket"
out=$("$PROBE" send "$WORK/c" 192.0.2.1 72000 'phone home')  # no route: 10051
[ "$(tail -n1 <<<"$out")" = "reports=0" ] || fail "unreachable network: $out"

echo "PASS"
