#!/usr/bin/env bash
# The real program end to end, as an administrator would run it in a console: build/tempwarden
# -console, copied into a directory of its own, polls Debian's snmpd (standing in for the UPS's
# card, its values changed by this test while the service runs), sends its alert mails through
# the tests' SMTP relay and its syslog datagrams to a second host, and stops on SIGTERM.
#
# The service takes at most one temperature sample per five-minute point of its clock, so each
# run starts it under libfaketime at a chosen local time: the first run ten seconds before a
# point begins (two samples in ten seconds), the second one at a later point of the same day.
# Everything else about the service, network and files is real.
#
#   run 1, 11:59:50: start-up reading 29, sample 31 (new high: syslog; alarm mail with Cc),
#                    mains fails and returns (two state changes with phone-home reports),
#                    sample 29 at 12:00 (alarm cleared, mail to the same recipients)
#   run 2, 12:10:00: start-up reading 32, sample 31 (new low mail without Cc; the alarm again,
#                    since a restart forgets an outstanding alarm)
#
# Runs in a network namespace of its own (nested in whatever namespace it was started in), so
# nothing it sends can leave the machine. The second host is a further namespace held by a
# sleeping process; every process started here is stopped by its PID.
#
# usage: bash tests/service_e2e_test.sh BUILD_DIR   (TW_E2E_KEEP=1 keeps the files for a look)
set -euo pipefail

BUILD=$(cd "${1:?usage: service_e2e_test.sh BUILD_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"

# A failure shows the end of what the service wrote.
on_fail() {
  local f
  for f in "${SVC:-/nonexistent}"/service.out "${SVC:-/nonexistent}"/APC-*.CSV; do
    [ -s "$f" ] || continue
    echo "--- the end of $f" >&2
    tail -n 20 "$f" | cut -c1-300 >&2
  done
}

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
[ -x /usr/sbin/snmpd ] || fail "snmpd is not installed (./test.sh installs it)"
/usr/bin/python3 -c "import aiosmtpd" 2>/dev/null ||
  fail "python3-aiosmtpd is not installed (./test.sh installs it)"
FAKETIME_LIB=$(ls /usr/lib/*/faketime/libfaketimeMT.so.1 2>/dev/null | head -n1 || true)
[ -n "$FAKETIME_LIB" ] || fail "libfaketime is not installed (./test.sh installs faketime)"

WORK=$(mktemp -d)
SVC="$WORK/svc"
at_exit 'if [ -n "${TW_E2E_KEEP:-}" ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi'

# shellcheck source=tests/second_host.sh
source "$(dirname "$0")/second_host.sh"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"

start_second_host 10.79.0.1/24 10.79.0.2/24 || fail "second host did not come up"
COLLECTOR=10.79.0.2

echo "== the peers: snmpd as the UPS's card, the SMTP relay, a syslog receiver"
mkdir -p "$WORK/agent" "$SVC"
# The temperature file is a queue (see ups_pass_persist.sh); the voltage file holds one value
# that the test rewrites. Each file is replaced whole, so the script never reads one half written.
set_temperatures() {
  printf '%s\n' "$@" >"$WORK/agent/temperature.new"
  mv "$WORK/agent/temperature.new" "$WORK/agent/temperature"
}
set_voltage() {
  printf '%s\n' "$1" >"$WORK/agent/voltage.new"
  mv "$WORK/agent/voltage.new" "$WORK/agent/voltage"
}
set_temperatures 29
set_voltage 230
start_snmpd "$WORK/agent" || fail "snmpd did not start"

start_bg /usr/bin/python3 "$SOURCE/tests/smtp_server.py" --transcript "$WORK/mail.txt" \
  --raw "$WORK/mail.raw" >"$WORK/relay.out" 2>"$WORK/relay.err"
wait_until 10 'grep -q "^READY " "$WORK/relay.out"' ||
  fail "SMTP relay did not start: $(cat "$WORK/relay.err")"
SMTP_PORT=$(sed -n 's/^READY //p' "$WORK/relay.out")

# Started without the on_b function, so that its PID is the receiver itself (nsenter execs it).
start_bg nsenter -t "$HOLDER" -n -- /usr/bin/python3 "$SOURCE/tests/syslog_listener.py" 0.0.0.0 \
  "$WORK/listening" 120 >"$WORK/syslog.txt" 2>"$WORK/listen.err"
wait_until 10 '[ -f "$WORK/listening" ]' ||
  fail "syslog receiver did not start: $(cat "$WORK/listen.err")"

cp "$BUILD/tempwarden" "$SVC/tempwarden"
write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
  PhoneHomeServer= TempSleep=2 VoltageSleep=1 AlarmTemp=30 EmailToAddr=ops@example.test \
  EmailCCAddr=facilities@example.test SMTPRelay=127.0.0.1 SMTPPort="$SMTP_PORT" \
  EmailFromAddr=tempwarden@example.test SyslogCollector="$COLLECTOR" \
  PhoneHomeCollector="$COLLECTOR"
LOG="$SVC/APC-20240305.CSV"

# Starts the service at the given local time of its clock, with the C locale's regional
# settings (English day names, M/D/YYYY dates) whatever the machine's.
start_service() {
  LC_ALL=C LD_PRELOAD="$FAKETIME_LIB" FAKETIME="@$1" FAKETIME_DONT_FAKE_MONOTONIC=1 \
    start_bg "$SVC/tempwarden" -console >>"$SVC/service.out" 2>&1
  SERVICE=$!
}
# Stops it with SIGTERM. The request ends the cycle's wait at once (tests/prompt_stop_test.sh
# holds it to two seconds wherever it comes).
stop_service() {
  kill -TERM "$SERVICE"
  wait_until 3 '! kill -0 "$SERVICE" 2>/dev/null' || fail "service still running 3 s after SIGTERM"
  wait "$SERVICE" || fail "service exited with status $?"
}
subjects() { grep -c "^C: Subject: $1\$" "$WORK/mail.txt" 2>/dev/null || true; }
log_entries() { grep -c ",$1,\"" "$LOG" 2>/dev/null || true; }

echo "== run 1: alarm, mains failure and return, alarm cleared at the next point"
set_temperatures 29 31 29
start_service "2024-03-05 11:59:50"
wait_until 8 '[ "$(subjects "APC UPS: High Temp Alarm!")" -eq 1 ]' || fail "no alarm mail"
set_voltage 0
wait_until 5 'grep -q ",50300,\".*\[InputVoltage=0\]" "$LOG"' || fail "mains failure not seen"
set_voltage 230
wait_until 5 'grep -q ",50300,\".*\[InputVoltage=230\]" "$LOG"' || fail "mains return not seen"
wait_until 15 '[ "$(subjects "APC UPS: High Temp condition cleared")" -eq 1 ]' ||
  fail "no cleared mail"
stop_service

echo "== run 2: a restart with a lower reading: new low, and the alarm once more"
set_temperatures 32 31
start_service "2024-03-05 12:10:00"
wait_until 8 '[ "$(subjects "APC UPS: High Temp Alarm!")" -eq 2 ]' || fail "no second alarm mail"
stop_service

echo "== temperature files and chart pages"
ROWS=$'143,12:00,31\r\n144,12:00,29\r\n146,12:10,31\r'
# The first sample of the date started the daily and weekday files with their header.
HEADER=$'"#","TIME","TEMP"\r\n'
for f in APCUPSTempLog_20240305.csv APCUPSTempLog_Tue.csv; do
  [ "$(cat "$SVC/$f")" = "$HEADER$ROWS" ] || fail "$f holds: $(od -c "$SVC/$f" | head)"
done
[ "$(cat "$SVC/APCUPSTempLog_Today.csv")" = "$ROWS" ] ||
  fail "APCUPSTempLog_Today.csv holds: $(od -c "$SVC/APCUPSTempLog_Today.csv" | head)"
[ "$(cat "$SVC/UPS-Temp.txt")" = "31" ] || fail "UPS-Temp.txt: $(cat "$SVC/UPS-Temp.txt")"
[ "$(cat "$SVC/UPS-Input-Voltage.txt")" = "230" ] ||
  fail "voltage file: $(cat "$SVC/UPS-Input-Voltage.txt")"
for f in APCUPSTempLog_20240305.html APCUPSTempLog_Tue.html; do
  grep -q "google.visualization" "$SVC/$f" || fail "$f is no chart page"
  grep -q "'12:10', *31" "$SVC/$f" || fail "$f lacks the last sample"
done

echo "== activity log"
want_count() {
  [ "$(log_entries "$1")" -eq "$2" ] || fail "$2 entries $1 wanted, log has $(log_entries "$1")"
}
want_count 50100 2  # start, once per run
want_count 50200 2  # start-up readings
want_count 50400 1  # new high 31 (run 1)
want_count 50500 1  # new low 31 (run 2)
want_count 50300 2  # mains failure and return
want_count 50700 1  # alarm cleared
[ "$(log_entries 50600)" -ge 4 ] || fail "too few status entries"
[ "$(log_entries 40000)" -ge 4 ] || fail "too few phone-home-not-set entries"
start_entry='\[UPSAttributes.HostName=127.0.0.1\].*\[UPSTemp=29\].*'
start_entry+='\[UPSInputVoltage=230\]\[AlarmTemp=30\]\[StartupRetry=0\]"'
grep -q ",50200,\"\[Function=TVOZIvazure.ServiceExecute\].*$start_entry" "$LOG" ||
  fail "start-up entry"
# In order: new high, the status with the alarm still unsent, its successor with the alarm
# outstanding, the clearing.
order=$(grep -oE ',(50400|50700),"|\[AlartSent=(TRUE|FALSE)\]' "$LOG" | uniq | head -n 5 |
  tr -d ',"' | tr '\n' ' ')
[ "$order" = "50400 [AlartSent=FALSE] [AlartSent=TRUE] 50700 [AlartSent=FALSE] " ] ||
  fail "order of the alarm entries: $order"
grep -q ',50300,"\[Msg=UPS Online state change\]\[Host=[^]]*\]\[Sleep=2\]\[InputVoltage=0\]"' \
  "$LOG" ||
  fail "state change entry"
[ -z "$(find "$SVC" -name 'E!*')" ] || fail "exception report written: $(cat "$SVC"/E\!*)"

echo "== mails"
/usr/bin/python3 "$SOURCE/tests/mail_transcript.py" "$WORK/mail.txt" >"$WORK/mails.txt"
cat "$WORK/mails.txt"
[ "$(grep -c '^MAIL ' "$WORK/mails.txt")" -eq 4 ] || fail "4 mails wanted"
subject_order=$(grep '^Subject: ' "$WORK/mails.txt" | sed 's/^Subject: //' | tr '\n' '|')
want_subjects="APC UPS: High Temp Alarm!|APC UPS: High Temp condition cleared|"
want_subjects+="APC UPS: New Low temp|APC UPS: High Temp Alarm!|"
[ "$subject_order" = "$want_subjects" ] || fail "mails: $subject_order"
# Envelope and headers of each mail, in order.
envelope=$(grep -E '^(MAIL|To:|Cc:)' "$WORK/mails.txt" | tr '\n' '|')
from="MAIL from=<tempwarden@example.test>"
both="$from rcpt=<ops@example.test>,<facilities@example.test>|"
both+="To: ops@example.test|Cc: facilities@example.test|"
to_only="$from rcpt=<ops@example.test>|To: ops@example.test|"
[ "$envelope" = "$both$both$to_only$both" ] || fail "recipients: $envelope"
# Every body line is one bracketed item; the alarm's body is the status entry of its pass.
if grep '^  ' "$WORK/mails.txt" | grep -vqE '^  \[[^][]*\]$'; then
  fail "a body line is not one item"
fi
mail_body() {  # the body of the Nth mail, joined back into one line
  awk -v n="$1" '/^MAIL /{k++} k==n && /^  /{sub(/^  /, ""); printf "%s", $0}' "$WORK/mails.txt"
}
alarm=$(mail_body 1)
grep -qF ",50600,\"$alarm\"" "$LOG" || fail "alarm body is no status entry: $alarm"
[[ "$alarm" == *"[UPSTemp=31][AlarmTemp=30][MinTemp=29]"*"[MaxTemp=31]"*"[AlartSent=FALSE]" ]] ||
  fail "alarm body: $alarm"
cleared=$(mail_body 2)
grep -qF ",50700,\"$cleared\"" "$LOG" || fail "cleared body is no log entry: $cleared"
[[ "$cleared" == "[Msg=APC UPS High Temp condition cleared]"*"[UPSTemp=29]"*"[EmailSent=TRUE]" ]] ||
  fail "cleared body: $cleared"
low=$(mail_body 3)
[[ "$low" == "[Msg=New Low temp]"*"[UPSTemp=31]"*"[MinTemp=31]"*"[MaxTemp=32]"* ]] ||
  fail "new low body: $low"

echo "== syslog datagrams heard by the second host"
cat "$WORK/syslog.txt"
heard() {  # datagrams to $1 ("broadcast" or the collector) with "(ID=$2)"
  local dest_re='^255\.255\.255\.255 '
  [ "$1" = broadcast ] || dest_re="^${1//./\\.} "
  grep -E "$dest_re" "$WORK/syslog.txt" | grep -cF "(ID=$2)" || true
}
want_heard() {
  [ "$(heard "$1" "$2")" -eq "$3" ] ||
    fail "$3 datagrams $2 to $1 wanted, heard $(heard "$1" "$2")"
}
want_heard broadcast 71001 2   # start, once per run
want_heard "$COLLECTOR" 71001 2
want_heard broadcast 71000 1   # new high (run 1)
want_heard "$COLLECTOR" 71000 1
want_heard broadcast 72000 2   # phone-home report at each state change
want_heard "$COLLECTOR" 72000 2
SENDER="^$COLLECTOR <7>VOZIvazure:[0-9]{5}"
grep -qE "$SENDER APC UPS: New High temp=31 H=\"[^\"]*\" \(ID=71000\)\$" "$WORK/syslog.txt" ||
  fail "new high datagram"
grep -qE "$SENDER Tempwarden Service Start\. v[0-9.]+ H=" "$WORK/syslog.txt" ||
  fail "start datagram"
phone_home=$(grep -E "$SENDER PhoneHome: " "$WORK/syslog.txt" |
  grep -oE 'STATE="[A-Za-z_]+", TEMP=31, MAX TEMP=31, InputVoltage=[0-9]+' | tr '\n' '|')
want_reports='STATE="On_Battery", TEMP=31, MAX TEMP=31, InputVoltage=0|'
want_reports+='STATE="OnLine", TEMP=31, MAX TEMP=31, InputVoltage=230|'
[ "$phone_home" = "$want_reports" ] || fail "phone-home reports: $phone_home"

echo "PASS"
