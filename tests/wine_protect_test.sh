#!/usr/bin/env bash
# The Windows build's "/protect" under Wine: the relay's password sealed with DPAPI into the
# settings file as a "dpapi:" value (the rest of the file byte for byte), read from standard
# input or from /secret-env's variable; /testmail and the service running in the foreground
# (-console: the alarm of its first temperature pass) log in to the relay with it; a value that
# does not open (damaged, or sealed for another key) is named at start by its key (40200) and
# counts as empty, and the service runs on. The password's bytes are in no file the program
# wrote and not in its output. Wine's DPAPI ignores the machine scope: that a value stored by an
# administrator opens for the service's own account shows only on Windows.
#
# Runs in network, pid and mount namespaces of its own, like tests/wine_query_test.sh.
# usage: bash tests/wine_protect_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: wine_protect_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"
# shellcheck source=tests/wine_lib.sh
source "$HERE/wine_lib.sh"
[ -n "${TW_WINE_TEST_INNER:-}" ] || [ -x /usr/sbin/snmpd ] || skip "Debian's snmpd is not installed"
wine_isolate "$BUILD" "tempwarden.exe" "$0" "$@"
ip link set lo up
# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"

wine_prefix
APP=$WORK/app
mkdir -p "$APP"
cp "$TW_WIN_BUILD_DIR/tempwarden.exe" "$APP/"
SECRET='W1ne-Dpapi!pass'
OUT=""
on_fail() {
  echo "--- output:"
  echo "$OUT"
  echo "--- relay:"
  tail -n 20 "$WORK/smtp.transcript" 2>/dev/null || true
}

start_snmpd "$WORK/agent" || fail "snmpd did not start"
start_bg /usr/bin/python3 "$HERE/smtp_server.py" --transcript "$WORK/smtp.transcript" \
  --raw "$WORK/smtp.raw" --user ups.sender --password "$SECRET" >"$WORK/relay.out" 2>&1
wait_until 10 'grep -q "^READY " "$WORK/relay.out"' || fail "relay: $(cat "$WORK/relay.out")"
PORT=$(sed -n 's/^READY //p' "$WORK/relay.out")
settings() {  # SMTPPassword value
  write_settings "$APP/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
    PhoneHomeServer= TempSleep=2 VoltageSleep=1 AlarmTemp=25 EmailToAddr=ops@example.test \
    SMTPRelay=127.0.0.1 SMTPPort="$PORT" EmailFromAddr=ups@example.test SMTPUser=ups.sender \
    SMTPPassword="$1" SyslogCollector=127.0.0.1
}
logins() { grep -c '^S: 235' "$WORK/smtp.transcript" 2>/dev/null || true; }
testmail() { OUT=$(cd "$APP" && timeout 120 wine tempwarden.exe /testmail </dev/null 2>&1 | tr -d '\r') || true; }

echo "-- /protect from standard input: a dpapi: value in place of the clear one"
settings clear-before
before=$(sed 's|<SMTPPassword>clear-before</SMTPPassword>|<SMTPPassword>@</SMTPPassword>|' "$APP/TEMPWARDEN.XML")
OUT=$(cd "$APP" && printf '%s\r\n' "$SECRET" | timeout 120 wine tempwarden.exe /protect smtppassword 2>&1 |
  tr -d '\r') || fail "/protect: $OUT"
grep -q "^SMTPPassword stored in .*TEMPWARDEN.XML as a DPAPI value (machine scope)" <<<"$OUT" ||
  fail "where it went: $OUT"
value=$(sed -n 's|.*<SMTPPassword>\(.*\)</SMTPPassword>.*|\1|p' "$APP/TEMPWARDEN.XML")
[[ "$value" == dpapi:* ]] || fail "no dpapi: value: $value"
[ "$(sed "s|<SMTPPassword>$value</SMTPPassword>|<SMTPPassword>@</SMTPPassword>|" "$APP/TEMPWARDEN.XML")" = "$before" ] ||
  fail "the file changed beyond the value: $(cat "$APP/TEMPWARDEN.XML")"
echo "stored: ${value:0:40}..."

echo "-- /testmail logs in with it"
n=$(logins)
testmail
[ "$(logins)" -gt "$n" ] || fail "/testmail did not log in"

echo "-- /secret-env, as the installer hands it over"
OUT=$(cd "$APP" && TW_SECRET="$SECRET" timeout 120 wine tempwarden.exe /protect SMTPPassword \
  /secret-env TW_SECRET </dev/null 2>&1 | tr -d '\r') || fail "/protect /secret-env: $OUT"
n=$(logins)
testmail
[ "$(logins)" -gt "$n" ] || fail "/testmail after /secret-env did not log in"

echo "-- the service in the foreground: its alarm mail logs in with the sealed password"
n=$(logins)
(cd "$APP" && exec timeout 120 wine tempwarden.exe -console </dev/null >"$WORK/console.out" 2>&1) &
SERVICE=$!
track_pid "$SERVICE" 10
wait_until 60 '[ "$(logins)" -gt "$n" ]' || fail "the service did not log in"
stop_pid "$SERVICE" 10
grep -q ',50210,' "$APP"/APC-*.CSV && fail "a sealed password named as clear"

echo "-- values that do not open: named by their key, counted as empty, no crash"
for damaged in "${value:0:30}" "dpapi:AAAA" "dpapi:not base64 at all"; do
  settings "$damaged"
  rm -f "$APP"/APC-*.CSV
  (cd "$APP" && exec timeout 120 wine tempwarden.exe -console </dev/null >"$WORK/console.out" 2>&1) &
  SERVICE=$!
  track_pid "$SERVICE" 10
  wait_until 60 'grep -q ",50200," "$APP"/APC-*.CSV 2>/dev/null' || fail "$damaged: no start"
  grep -q ',40200,"\[Function=toolbelt.ReadConfig\]\[Msg=Protected value does not open on this machine\]\[Key=SMTPPassword\]\[Used=empty\]"' \
    "$APP"/APC-*.CSV || fail "$damaged: not named: $(cat "$APP"/APC-*.CSV)"
  kill -0 "$SERVICE" || fail "$damaged: the service ended"
  stop_pid "$SERVICE" 10
  ls "$APP"/E!RAZIVED-*.XML >/dev/null 2>&1 && fail "$damaged: an exception report"
  echo "ok: $damaged"
done
testmail
grep -q "SMTPPassword: its protected value does not open on this machine" <<<"$OUT" ||
  fail "/testmail does not say so: $OUT"

echo "-- the password is in no file the program wrote, nor in its output"
hits=$(grep -rlaF -- "$SECRET" "$APP" "$WORK/console.out" || true)
[ -z "$hits" ] || fail "the password is in: $hits"
echo "PASS"
