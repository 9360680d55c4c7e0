#!/usr/bin/env bash
# The two prompt commands of the real program against real peers: "tempwarden /testmail"
# through the tests' aiosmtpd relay (AUTH LOGIN on a plain connection) and "tempwarden /query"
# against Debian's snmpd standing in for the UPS's card, with their exit statuses; both also
# while the service itself runs from the same directory, and both when the peer is gone.
#
# Runs in a network namespace of its own, so nothing it sends can leave the machine; every
# process started here is stopped by its PID.
#
# usage: bash tests/prompt_commands_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: prompt_commands_test.sh BUILD_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
[ -x /usr/sbin/snmpd ] || skip "snmpd is not installed"
/usr/bin/python3 -c "import aiosmtpd" 2>/dev/null ||
  skip "python3-aiosmtpd is not installed"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

echo "== the peers"
echo 27 >"$WORK/temperature"
echo 231 >"$WORK/voltage"
start_snmpd "$WORK" || fail "snmpd did not start"
start_bg /usr/bin/python3 "$SOURCE/tests/smtp_server.py" --transcript "$WORK/mail.txt" \
  --raw "$WORK/mail.raw" --user ups.sender --password 'Pa55-w0rd' \
  >"$WORK/relay.out" 2>"$WORK/relay.err"
RELAY=$!
wait_until 10 'grep -q "^READY " "$WORK/relay.out"' ||
  fail "SMTP relay did not start: $(cat "$WORK/relay.err")"
SMTP_PORT=$(sed -n 's/^READY //p' "$WORK/relay.out")

service_copy "$BUILD"
settings() {  # $1: the SNMP community
  write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity="$1" SysLogTrap=7 \
    AlarmTemp=45 EmailToAddr=ops@example.test EmailCCAddr=facilities@example.test \
    SMTPRelay=127.0.0.1 SMTPPort="$SMTP_PORT" EmailFromAddr=tempwarden@example.test \
    SMTPUser=ups.sender SMTPPassword=Pa55-w0rd
}
settings public

# Runs the program with a switch; sets OUT (its output) and STATUS (its exit status).
run() {
  STATUS=0
  OUT=$(cd / && LC_ALL=C "$SVC/tempwarden" "$1" 2>&1) || STATUS=$?
}
expect() {  # expect STATUS LINE-REGEX...: the exit status and lines the output must hold
  local want=$1
  shift
  [ "$STATUS" -eq "$want" ] || fail "exit status $STATUS, $want wanted; output:"$'\n'"$OUT"
  local re
  for re in "$@"; do
    grep -qE "$re" <<<"$OUT" || fail "no line /$re/ in:"$'\n'"$OUT"
  done
}
STAMP='^[0-9]+/[0-9]+/[0-9]{4} [0-9]+:[0-9]{2}:[0-9]{2}( [AP]M)? '
TEMP_OID='temperature \(1\.3\.6\.1\.4\.1\.318\.1\.1\.1\.2\.2\.2\.0\): '
VOLT_OID='input voltage \(1\.3\.6\.1\.4\.1\.318\.1\.1\.1\.3\.2\.1\.0\): '
# A reading names its type beside the object.
TEMP_READ='temperature \(1\.3\.6\.1\.4\.1\.318\.1\.1\.1\.2\.2\.2\.0, Gauge32\): '
VOLT_READ='input voltage \(1\.3\.6\.1\.4\.1\.318\.1\.1\.1\.3\.2\.1\.0, Gauge32\): '

echo "== /testmail delivers through the relay"
run /testmail
echo "$OUT"
expect 0 '^Sending "APC UPS: test mail" to "ops@example.test", Cc "facilities@example.test"' \
  " Connected to 127.0.0.1 on TCP port $SMTP_PORT\$" ' SMTP.UserName=ups.sender$' \
  ' SMTP.Password=\*{8}$' ' <-RCPT TO:<facilities@example.test>$' \
  '^Result 0: delivered: the relay took the mail$'
grep -q 'Pa55-w0rd' <<<"$OUT" && fail "the password is shown"
grep -qx 'C: Subject: APC UPS: test mail' "$WORK/mail.txt" || fail "no test mail at the relay"
grep -qx 'C: RCPT TO:<ops@example.test>' "$WORK/mail.txt" || fail "To not used"
grep -qx 'C: RCPT TO:<facilities@example.test>' "$WORK/mail.txt" || fail "Cc not used"
grep -qx 'S: 235 2.7.0 Authentication successful' "$WORK/mail.txt" || fail "no AUTH LOGIN"
grep -qx "C: \[SMTPPort=$SMTP_PORT\]" "$WORK/mail.txt" || fail "no settings summary"

echo "== /query (and -query) reads both objects from snmpd"
for sw in /query -QUERY; do
  run "$sw"
  echo "$OUT"
  expect 0 "^Querying 127.0.0.1 on UDP port 161$" "${STAMP}${TEMP_READ}27\$" \
    "${STAMP}${VOLT_READ}231\$"
done

echo "== both while the service runs from the same directory"
(cd "$SVC" && LC_ALL=C exec ./tempwarden -console >"$WORK/service.out" 2>&1) &
SERVICE=$!
track_pid "$SERVICE"
wait_until 10 'ls "$SVC"/APC-*.CSV >/dev/null 2>&1' || fail "the service did not start"
run -query
expect 0 "${STAMP}${TEMP_READ}27\$"
run -testmail
expect 0 '^Result 0: '
kill -0 "$SERVICE" 2>/dev/null || fail "the service stopped"
stop_pid "$SERVICE"
[ "$(grep -c '^C: Subject: APC UPS: test mail$' "$WORK/mail.txt")" -eq 2 ] ||
  fail "two test mails wanted"

echo "== a community the agent does not know: no answer, exit status 1"
settings wrong
run /query
echo "$OUT"
expect 1 "${STAMP}${TEMP_OID}no answer within 5000 ms" "${STAMP}${VOLT_OID}no answer within 5000 ms"
settings public

echo "== the agent gone: nothing listens, exit status 1"
stop_snmpd
run /query
echo "$OUT"
expect 1 "${STAMP}${TEMP_OID}no answer: the host refused it, nothing listens on UDP port 161\$"

echo "== the relay gone: the result and its meaning, exit status 1"
stop_pid "$RELAY"
run /testmail
echo "$OUT"
expect 1 '^Result -10061: the connection was refused: nothing listens at SMTPRelay on SMTPPort$'

echo "== no settings file: nothing is created, exit status 1"
rm "$SVC/TEMPWARDEN.XML"
run /testmail
expect 1 "^TEMPWARDEN.XML not found in $SVC/\$"
[ ! -e "$SVC/TEMPWARDEN.XML" ] || fail "a settings file was written"

echo "PASS"
