#!/usr/bin/env bash
# The Windows program for real, under Wine's service control manager: install into a path with
# a space, a refused second install, start against Debian's snmpd, pause and continue, stop,
# uninstall, a copy started by hand outside the manager, and the regional settings of a German
# Wine session. What the service must have written is asked of Windows itself
# (tw_wine_probe.exe: regional formats, registration, error texts), not written down here.
#
# Runs in network, pid and mount namespaces of its own: nothing it sends leaves the machine,
# and every Wine process ends with the namespace at the latest. Wine is stopped with
# `wineserver -k`, snmpd by its PID.
#
# usage: bash tests/wine_service_test.sh BUILD_DIR
#   The Windows build is looked for in BUILD_DIR/../build-win, then in build-win of this source
#   tree (TW_WIN_BUILD_DIR overrides).
#   Exits 77 (skipped) when Wine, the Windows build or the namespaces are not to be had.
#   TW_TRACE=1 traces the script; TW_KEEP_WORK=1 keeps its directory (the Wine prefix).
set -euo pipefail
[ -z "${TW_TRACE:-}" ] || set -x

BUILD=$(cd "${1:?usage: wine_service_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"

# shellcheck source=tests/wine_lib.sh
source "$HERE/wine_lib.sh"
wine_isolate "$BUILD" "tempwarden.exe tw_wine_probe.exe tempwarden-setup.exe" "$0" "$@"
ip link set lo up
[ -x "$BUILD/tw_syslog_probe" ] || fail "missing $BUILD/tw_syslog_probe"

# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"

wine_prefix
RELAY=""

SERVICE=VOZIvazure
SVC_DIR="$WINEPREFIX/drive_c/Program Files/Tempwarden"
# What the service writes, and its settings: /install gives it a data folder of its own.
DATA_DIR="$WINEPREFIX/drive_c/ProgramData/Tempwarden"
DATA='C:\ProgramData\Tempwarden'
EXE='C:\Program Files\Tempwarden\tempwarden.exe'
PROBE='C:\tw\tw_wine_probe.exe'
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$TW_WIN_BUILD_DIR/CMakeCache.txt")
[ -n "$VERSION" ] || fail "no project version in $TW_WIN_BUILD_DIR/CMakeCache.txt"

ms_now() { echo $(( $(date +%s%N) / 1000000 )); }
T0=$(ms_now)
step() { echo "-- [$(( $(ms_now) - T0 )) ms] $*"; }

# Every Wine command has a bound and none reads the terminal; captured output loses its CRs.
w() { timeout 60 wine "$@" </dev/null; }
wout() { timeout 60 wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
probe() { wout "$PROBE" "$@"; }

# The service's state number as `sc query` shows it (1 stopped, 4 running, 7 paused), or
# "none" when the service does not exist. Wine translates its texts: parse them in English.
state() {
  local out
  out=$(env -u LOCPATH LANG=C.UTF-8 timeout 60 wine sc query "$SERVICE" </dev/null 2>/dev/null |
    tr -d '\r' || true)
  out=$(printf '%s\n' "$out" | sed -n 's/^ *STATE *: *\([0-9][0-9]*\).*/\1/p')
  echo "${out:-none}"
}
wait_state() { wait_until "$2" "[ \"\$(state)\" = $1 ]"; }  # STATE SECONDS
# Runs the program with a command line and checks what a person or a script would see: the
# exit code (0, or "failed" for any other), the program's text on standard output and error,
# whether a message box came up, and what went to the event log. Wine's traces show both the
# message boxes (it puts up every one, and with no display it returns at once) and the event
# log.
expect_run() {  # EXIT TEXT BOX(yes|no) EVENT -- ARGS...
  local want="$1|$2|$3|$4" rc text box event attempt
  shift 5
  for attempt in 1 2; do
    set +e
    WINEDEBUG=-all,trace+dialog,err+eventlog timeout 60 wine "$EXE" "$@" </dev/null \
      >"$WORK/run.out" 2>"$WORK/run.err"
    rc=$?
    set -e
    text=$(cat "$WORK/run.out" "$WORK/run.err" | tr -d '\r' |
      grep -v -e ':trace:dialog:' -e ':err:eventlog:' || true)
    box=no
    if grep -F DIALOG_CreateIndirect "$WORK/run.err" >/dev/null; then box=yes; fi
    event=$(tr -d '\r' <"$WORK/run.err" |
      sed -n 's/^[0-9a-f]*:err:eventlog:ReportEventW L"\(.*\)"$/\1/p' | sed 's/\\"/"/g')
    # Every way the program fails says why (in silent mode on the console), so a failure without
    # a word where success is wanted is Wine's, which did not run it: shown, and tried once more.
    [ "$attempt" = 1 ] && [ "$rc" != 0 ] && [ "${want%%|*}" = 0 ] &&
      [ "$text|$box|$event" = "|no|" ] || break
    echo "   wine $EXE $* ended with $rc and no word; run once more"
    sleep 1
  done
  [ "$rc" = 0 ] || rc=failed
  [ "$rc|$text|$box|$event" = "$want" ] || fail "tempwarden.exe $*:
    exit code, text, message box, event log: $rc|$text|$box|$event
    wanted:                                  $want"
}
service_processes() { grep -las '[t]empwarden\.exe' /proc/[0-9]*/cmdline || true; }

today() { date +%Y%m%d; }
activity_log() { echo "$DATA_DIR/APC-$(today).CSV"; }
# The moments of the activity log's entries with a code, in milliseconds of the day.
entry_times() {  # CODE
  local log
  log=$(activity_log)
  [ -f "$log" ] || return 0
  tr -d '\r' <"$log" | awk -F, -v code="$1" '$4 == code {
    split($1, t, /[:.]/); print ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }'
}
count_entries() { entry_times "$1" | wc -l; }

start_service() {
  local start
  start=$(ms_now)
  w net start "$SERVICE" >/dev/null 2>&1 || true  # may say "already running": the state decides
  wait_state 4 20 || fail "not running: state $(state)"
  echo "   running $(( $(ms_now) - start )) ms after net start"
}

stop_service() {
  local start stopped
  start=$(ms_now)
  w sc stop "$SERVICE" >/dev/null 2>&1 || true
  wait_state 1 10 || fail "not stopped: state $(state)"
  stopped=$(( $(ms_now) - start ))
  echo "   stopped $stopped ms after sc stop"
  [ "$stopped" -lt 4000 ] || fail "slow stop: $stopped ms"
  wait_until 5 '[ -z "$(service_processes)" ]' || fail "the service process is still there"
}

uninstall_service() {
  expect_run 0 "" no "" -- /uninstall /silent
  [ "$(state)" = none ] || fail "still registered"
  [ "$(probe qc "$SERVICE" || true)" = "error=1060" ] || fail "still registered"
}

# What the service writes beside its executable once it has made its first readings.
check_start_files() {  # TEMPERATURE_TEXT
  local temperature=$1 log date_text row
  log=$(activity_log)
  wait_until 20 '[ "$(count_entries 50200)" -ge 1 ] && [ -f "$DATA_DIR/D!Tempwarden.TXT" ] &&
    [ -f "$DATA_DIR/APCUPSTempLog_$(today).csv" ]' ||
    fail "service files missing: $(ls "$DATA_DIR"); log: $(cat "$log" 2>/dev/null)"
  [ "$(count_entries 50100)" = 1 ] || fail "50100 entries: $(cat "$log")"
  tr -d '\r' <"$log" | awk -F, '$4 == 50100 && $5 == "\"[Function=TMonitorUPSService.ServiceStart]\""' |
    grep . >/dev/null || fail "50100 entry: $(cat "$log")"
  grep -F "[UPSTemp=$temperature][UPSState=OnLine][UPSInputVoltage=230]" "$log" >/dev/null ||
    fail "50200 entry: $(cat "$log")"
  [ -f "$DATA_DIR/TEMPWARDEN.XML" ] || fail "no TEMPWARDEN.XML"
  [ -f "$DATA_DIR/APCUPSTempLog_$(today).html" ] || fail "no chart page of the day"
  # Both are replaced at every pass: a read may fall between truncation and write.
  wait_until 5 '[ "$(cat "$DATA_DIR/UPS-Input-Voltage.txt")" = 230 ]' ||
    fail "voltage file: $(cat "$DATA_DIR/UPS-Input-Voltage.txt")"
  wait_until 5 '[ "$(cat "$DATA_DIR/UPS-Temp.txt")" = "$temperature" ]' ||
    fail "temperature file: $(cat "$DATA_DIR/UPS-Temp.txt")"
  row=$(tr -d '\r' <"$DATA_DIR/APCUPSTempLog_$(today).csv" | tail -1)
  case "$row" in *",$temperature") ;; *) fail "temperature row: $row" ;; esac
  # Every line of the debug file starts with the date-time text of now; every temperature
  # pass starts the file anew.
  # shellcheck disable=SC2046
  date_text=$(probe date $(date '+%Y %-m %-d'))
  wait_until 5 'debug_file_dated "$date_text"' ||
    fail "debug file, wanted lines starting with $date_text: $(cat "$DATA_DIR/D!Tempwarden.TXT")"
}
debug_file_dated() {  # DATE_TEXT
  local debug
  debug=$(tr -d '\r' <"$DATA_DIR/D!Tempwarden.TXT")
  case "$(printf '%s\n' "$debug" | head -1)" in
    "$1 "*" Function=TVOZIvazure.ServiceExecute LogRec.Trace=1100") ;;
    *) return 1 ;;
  esac
  [ -z "$(printf '%s\n' "$debug" | grep -vF "$1 " || true)" ]
}

# The registry description names the start moment, which the 50100 entry gives to the
# millisecond; the value was taken a little earlier, possibly in the second before.
check_description() {
  local started description moment want back
  started=$(tr -d '\r' <"$(activity_log)" | awk -F, '$4 == 50100 { print substr($1, 1, 8) }')
  description=$(wout reg query "HKLM\\System\\CurrentControlSet\\Services\\$SERVICE" /v Description |
    sed -n 's/^ *Description *REG_SZ *//p')
  for back in 0 1; do
    moment=$(date -d "$(date +%F) $started $back seconds ago" '+%Y %-m %-d %-H %-M %-S')
    # shellcheck disable=SC2086
    want="Brindle v$VERSION started at $(probe datetime $moment)"
    [ "$description" != "$want" ] || return 0
  done
  fail "Description: '$description'; wanted: '$want' (or a second later)"
}

start_wine_session() {
  wineserver -p  # stays when the last program ends, so services.exe keeps the service alive
  # The first program (and on a new prefix wineboot) starts services.exe, which inherits its
  # standard handles: /dev/null, so that later $(...) captures end. An explicit `wineboot -i`
  # on a new prefix would initialise it twice and leave two services.exe on the same pipe.
  timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || fail "Wine did not start"
}

# Exception reports would mean that something in the platform layer failed.
check_no_reports() {
  [ -z "$(find "$DATA_DIR" -name 'E!*')" ] ||
    fail "exception reports: $(find "$DATA_DIR" -name 'E!*' -exec cat {} +)"
}

# ---- The prompt commands of the Windows program, run while the service runs: /query reads
# both objects from snmpd, /testmail delivers through the relay; both with exit status 0.
check_prompt_commands() {
  local out rc=0
  out=$(timeout 60 wine "$EXE" /query /data "$DATA" </dev/null 2>/dev/null | tr -d '\r') || rc=$?
  [ "$rc" = 0 ] || fail "/query: exit code $rc: $out"
  printf '%s\n' "$out" | grep -E ' temperature \([0-9.]+, Gauge32\): 27$' >/dev/null ||
    fail "/query: $out"
  printf '%s\n' "$out" | grep -E ' input voltage \([0-9.]+, Gauge32\): 230$' >/dev/null || fail "/query: $out"
  out=$(timeout 60 wine "$EXE" -testmail -data "$DATA" </dev/null 2>/dev/null | tr -d '\r') || rc=$?
  [ "$rc" = 0 ] || fail "-testmail: exit code $rc: $out"
  printf '%s\n' "$out" | grep -Fx 'Result 0: delivered: the relay took the mail' >/dev/null ||
    fail "-testmail: $out"
  grep -Fx "C: Subject: APC UPS: test mail" "$WORK/smtp.transcript" >/dev/null ||
    fail "no test mail at the relay"
}

# ---- Alarm mail over STARTTLS through Schannel --------------------------------------------
# A relay with STARTTLS and a certificate for "localhost" from a CA that the test makes; the
# service trusts that CA through "SMTPCAFile" (a path beside the program). With a CA that did
# not sign the relay's certificate it must refuse the relay: no AUTH, no MAIL.
tls_relay_config() {  # RELAY_OUT CA_FILE [RELAY_HOST]
  write_settings "$DATA_DIR/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
    TempSleep=2 VoltageSleep=1 AlarmTemp=25 EmailToAddr=ops@example.test SMTPRelay="${3:-localhost}" \
    SMTPPort="$(sed -n 's/^READY //p' "$1")" EmailFromAddr=ups@example.test \
    SMTPSecurity=starttls SMTPCAFile="$2" SyslogCollector=127.0.0.1 \
    SMTPUser=opsmail.brindle SMTPPassword=pq4tnvkxe
}
start_tls_relay() {  # NAME [CERTIFICATE]: the relay shows certs/CERTIFICATE.pem (localhost)
  local cert="$WORK/certs/${2:-localhost}"
  start_bg /usr/bin/python3 "$HERE/smtp_server.py" --transcript "$WORK/$1.transcript" \
    --raw "$WORK/$1.raw" --starttls "$cert.pem" "$cert.key" \
    >"$WORK/$1.out" 2>"$WORK/$1.err"
  RELAY=$!
  wait_until 10 "grep '^READY ' '$WORK/$1.out' >/dev/null" || fail "relay: $(cat "$WORK/$1.err")"
}
stop_tls_relay() {
  stop_pid "$RELAY"
  RELAY=""
}
tls_mail_through_schannel() {
  stop_tls_relay  # the plain relay of the first start
  bash "$HERE/make_test_certs.sh" "$WORK/certs" || fail "openssl could not make certificates"
  cp "$WORK/certs/ca.pem" "$DATA_DIR/relay-ca.pem"
  cp "$WORK/certs/other-ca.pem" "$DATA_DIR/other-ca.pem"

  start_tls_relay tls-good
  tls_relay_config "$WORK/tls-good.out" relay-ca.pem
  expect_run 0 "" no "" -- /install /silent
  start_service
  wait_until 20 'grep -F "C: Subject: APC UPS: High Temp Alarm!" "$WORK/tls-good.transcript" \
    >/dev/null && grep -Fx "C: QUIT" "$WORK/tls-good.transcript" >/dev/null' ||
    fail "no alarm mail over STARTTLS: $(cat "$WORK/tls-good.transcript" "$WORK/tls-good.err")"
  # STARTTLS, the second EHLO and AUTH PLAIN inside TLS (the relay offers AUTH only there);
  # EHLO names the computer's DNS name, or the connection's address when it has none.
  tr -d '\r' <"$WORK/tls-good.transcript" | grep -E '^C: (EHLO|STARTTLS|AUTH|MAIL)' |
    head -5 | paste -sd'|' | grep -Ex "C: EHLO ([a-zA-Z0-9.-]+\.[a-zA-Z0-9-]+|\[127\.0\.0\.1\])\|C: STARTTLS\|C: EHLO [^|]+\|C: AUTH PLAIN AG9wc21haWwuYnJpbmRsZQBwcTR0bnZreGU=\|C: MAIL FROM:<ups@example.test>" \
    >/dev/null || fail "exchange over STARTTLS: $(cat "$WORK/tls-good.transcript")"
  grep -Fx "S: 235 2.7.0 Authentication successful" "$WORK/tls-good.transcript" >/dev/null ||
    fail "no login inside TLS: $(cat "$WORK/tls-good.transcript")"
  echo "   Schannel under Wine: $(grep -m1 '^TLS ' "$WORK/tls-good.err")"
  stop_service
  stop_tls_relay

  start_tls_relay tls-wrong-ca
  tls_relay_config "$WORK/tls-wrong-ca.out" other-ca.pem
  start_service
  wait_until 20 'grep -Fx "C: STARTTLS" "$WORK/tls-wrong-ca.transcript" >/dev/null &&
    grep -Fx CLOSED "$WORK/tls-wrong-ca.out" >/dev/null' ||
    fail "no STARTTLS with the wrong CA: $(cat "$WORK/tls-wrong-ca.transcript")"
  stop_service
  stop_tls_relay
  ! grep -E '^C: (AUTH|MAIL)' "$WORK/tls-wrong-ca.transcript" >/dev/null ||
    fail "a relay with an untrusted certificate got: $(cat "$WORK/tls-wrong-ca.transcript")"

  # A chain ending in a forged root: the name and serial number of the CA of SMTPCAFile, but
  # another key. Only the very certificate of the file is a trusted root.
  start_tls_relay tls-forged forged
  tls_relay_config "$WORK/tls-forged.out" relay-ca.pem
  start_service
  wait_until 20 'grep -Fx "C: STARTTLS" "$WORK/tls-forged.transcript" >/dev/null &&
    grep -Fx CLOSED "$WORK/tls-forged.out" >/dev/null' ||
    fail "no STARTTLS with the forged root: $(cat "$WORK/tls-forged.transcript")"
  stop_service
  stop_tls_relay
  ! grep -E '^C: (AUTH|MAIL)' "$WORK/tls-forged.transcript" >/dev/null ||
    fail "a relay with a forged root got: $(cat "$WORK/tls-forged.transcript")"

  # A relay given as an address, with a certificate that names it in an IP address entry.
  start_tls_relay tls-address address
  tls_relay_config "$WORK/tls-address.out" relay-ca.pem 127.0.0.1
  start_service
  wait_until 20 'grep -F "C: Subject: APC UPS: High Temp Alarm!" "$WORK/tls-address.transcript" \
    >/dev/null && grep -Fx "C: QUIT" "$WORK/tls-address.transcript" >/dev/null' ||
    fail "no alarm mail to the relay's address: $(cat "$WORK/tls-address.transcript")"
  stop_service
  stop_tls_relay
  check_no_reports
  uninstall_service
}
# ---- end of the STARTTLS block ------------------------------------------------------------

# --- Whole-file replacement -------------------------------------------------------------
# Pages, the temperature, voltage and debug files are replaced at every pass by a temporary
# file moved over the old one (MoveFileEx): after the passes every one of them is whole and
# no temporary file is left.
check_whole_replacements() {
  local left
  left=$(find "$DATA_DIR" -name '*.tw-new')
  [ -z "$left" ] || fail "temporary files left: $left"
  [ "$(tr -d '\r' <"$DATA_DIR/UPS-Input-Voltage.txt")" = 230 ] ||
    fail "voltage file after the passes: $(cat "$DATA_DIR/UPS-Input-Voltage.txt")"
  tr -d '\r' <"$DATA_DIR/APCUPSTempLog_$(today).html" | tail -1 | grep -Fx '</html>' >/dev/null ||
    fail "chart page not whole: $(tail -3 "$DATA_DIR/APCUPSTempLog_$(today).html")"
}
# -------------------------------------------------------------------------------------------

# ---- An answer that is no number is no reading ------------------------------------------
# The agent answers the input voltage with a text that is no number: no reading, as silence is.
# The service names the answer once (40910) and keeps running; no exception report.
check_no_number_voltage() {
  step "a voltage that is no number: named, and the service keeps running"
  echo string >"$WORK/agent/voltage.type"
  echo "no volts" >"$WORK/agent/voltage"
  w net start "$SERVICE" >/dev/null 2>&1 || true
  wait_until 20 'grep -a ",40910," "$(activity_log)" >/dev/null' ||
    fail "no 40910 entry for the voltage text: state $(state)"
  [ "$(state)" = 4 ] || fail "the service did not keep running: state $(state)"
  [ -z "$(find "$DATA_DIR" -name 'E!*')" ] || fail "an exception report: $(find "$DATA_DIR" -name 'E!*')"
  stop_service
  rm -f "$WORK/agent/voltage.type"
  echo 230 >"$WORK/agent/voltage"
}
# ----------------------------------------------------------------------------------------------

step "fresh Wine prefix"
start_wine_session
mkdir -p "$SVC_DIR" "$WINEPREFIX/drive_c/tw"
cp "$TW_WIN_BUILD_DIR/tempwarden.exe" "$SVC_DIR/"
cp "$TW_WIN_BUILD_DIR/tw_wine_probe.exe" "$WINEPREFIX/drive_c/tw/"
ERR_EXISTS=$(probe errtext 1073)   # ERROR_SERVICE_EXISTS
ERR_MISSING=$(probe errtext 1060)  # ERROR_SERVICE_DOES_NOT_EXIST
ERR_CONNECT=$(probe errtext 1063)  # ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
LOCALE_EN=$(probe locale)

step "install"
expect_run 0 "" no "" -- /install /silent
config=$(probe qc "$SERVICE") || fail "not registered: $config"
want_config="type=16
start=2
error_control=1
path=\"$EXE\" /data \"$DATA\"
account=NT SERVICE\\VOZIvazure
display_name=Tempwarden
dependencies=
group="
[ "$config" = "$want_config" ] || fail "registration:
$config
wanted (own process, automatic start, normal error control, quoted path and the data folder,
the service's virtual account):
$want_config"

step "a second install fails"
msg="Service \"Tempwarden\" failed to install with error: \"$ERR_EXISTS\""
# SILENT: no message box that an unattended installer would wait on; the text goes to standard
# error and the event log. Without SILENT: a message box, and standard error as well.
expect_run failed "$msg" no "$msg" -- -INSTALL /Silent
expect_run failed "$msg" yes "" -- /install

step "start against snmpd, a mail relay and a syslog collector"
start_snmpd "$WORK/agent" || fail "snmpd"
start_bg /usr/bin/python3 "$HERE/smtp_server.py" --transcript "$WORK/smtp.transcript" \
  --raw "$WORK/smtp.raw" >"$WORK/relay.out" 2>&1
RELAY=$!
wait_until 10 'grep "^READY " "$WORK/relay.out" >/dev/null' || fail "relay: $(cat "$WORK/relay.out")"
# The temperature of 27 is above the alarm level: the first temperature pass mails an alarm.
write_settings "$DATA_DIR/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
  PhoneHomeServer= TempSleep=2 VoltageSleep=1 AlarmTemp=25 EmailToAddr=ops@example.test \
  SMTPRelay=127.0.0.1 SMTPPort="$(sed -n 's/^READY //p' "$WORK/relay.out")" \
  EmailFromAddr=ups@example.test SMTPUser=opsmail.brindle SMTPPassword=pq4tnvkxe \
  SyslogCollector=127.0.0.1
start_bg "$BUILD/tw_syslog_probe" listen 127.0.0.1 514 1 20000 "$WORK/collector.ready" \
  >"$WORK/collector.heard"
LISTENER=$!
wait_until 5 '[ -f "$WORK/collector.ready" ]' || fail "syslog listener did not start"
start_service
check_start_files 27
check_description
wait "$LISTENER" || fail "syslog listener"
heard=$(sed -n 's/^127\.0\.0\.1 //p' "$WORK/collector.heard" | sed 's/../\\x&/g')
heard=$(printf '%b' "$heard")
host=$(tr -d '\r' <"$(activity_log)" | sed -n 's/.*,50200,.*\[Host=\([^]]*\)\].*/\1/p')
case "$heard" in
  "<7>VOZIvazure:"[0-9][0-9][0-9][0-9][0-9]" Tempwarden Service Start. v$VERSION H=\"$host\" (ID=71001)") ;;
  *) fail "the collector heard: '$heard' (host $host)" ;;
esac
wait_until 10 'grep -F "C: Subject: APC UPS: High Temp Alarm!" "$WORK/smtp.transcript" >/dev/null &&
  grep -Fx "C: QUIT" "$WORK/smtp.transcript" >/dev/null' ||
  fail "no alarm mail: $(cat "$WORK/smtp.transcript" 2>/dev/null)"
grep -E "^S: 250 .*(queued|Ok)" "$WORK/smtp.transcript" >/dev/null ||
  fail "the relay did not take the mail: $(cat "$WORK/smtp.transcript")"
wait_until 10 '[ "$(count_entries 40000)" -ge 2 ]' || fail "no temperature passes"

# Started by hand outside the manager while the service runs: Wine's dispatcher waits for the
# service's busy control pipe (10 s) and fails; the copy ends after writing the error to the
# event log (Wine puts that on its eventlog channel), and the service runs on.
( set +e
  start=$(ms_now)
  WINEDEBUG=-all,err+eventlog timeout 60 wine "$EXE" </dev/null >"$WORK/by_hand.out" 2>&1
  echo $? >"$WORK/by_hand.rc"
  echo $(( $(ms_now) - start )) >"$WORK/by_hand.ms" ) &
ROGUE=$!
track_pid "$ROGUE"

step "pause"
# Wine's sc and net know no pause and continue: the probe sends them through ControlService.
out=$(probe control "$SERVICE" pause) || fail "pause refused: $out"
wait_state 7 10 || fail "not paused: state $(state)"
before=$(count_entries 40000)
debug_before=$(cat "$DATA_DIR/D!Tempwarden.TXT")
log_before=$(cat "$(activity_log)")
sleep 6
[ "$(count_entries 40000)" = "$before" ] || fail "a temperature pass ran while paused"
[ "$(cat "$DATA_DIR/D!Tempwarden.TXT")" = "$debug_before" ] || fail "the debug file changed while paused"
[ "$(cat "$(activity_log)")" = "$log_before" ] || fail "the activity log changed while paused"

step "continue"
out=$(probe control "$SERVICE" continue) || fail "continue refused: $out"
wait_state 4 10 || fail "not running after continue: state $(state)"
wait_until 15 '[ "$(count_entries 40000)" -ge $(( before + 5 )) ]' || fail "no passes after continue"
# Six seconds of passes are overdue: they run on consecutive loop passes, one a second, until
# the schedule has caught up. On schedule, five passes two seconds apart span about eight
# seconds; one loop pass of delay at either end cannot bring that below about seven.
span=$(entry_times 40000 | sed -n "$(( before + 1 ))p;$(( before + 5 ))p" | paste -sd' ' |
  awk '{ print $2 - $1 }')
echo "   five passes after continue within $span ms"
[ "$span" -lt 5500 ] || fail "no catch-up after continue: five passes took $span ms"

step "the copy started by hand"
wait "$ROGUE" || true
echo "   ended after $(cat "$WORK/by_hand.ms") ms with exit code $(cat "$WORK/by_hand.rc")"
[ "$(cat "$WORK/by_hand.rc")" = 1 ] || fail "exit code $(cat "$WORK/by_hand.rc"): $(cat "$WORK/by_hand.out")"
grep -F "err:eventlog:ReportEventW L\"$ERR_CONNECT\"" "$WORK/by_hand.out" >/dev/null ||
  fail "no dispatcher error in the event log: $(cat "$WORK/by_hand.out")"
[ "$(state)" = 4 ] || fail "the service is no longer running: state $(state)"

step "the prompt commands while the service runs"
check_prompt_commands

step "stop"
stop_service
check_no_reports
check_whole_replacements
check_no_number_voltage

step "uninstall"
uninstall_service
msg="Service \"Tempwarden\" failed to uninstall with error: \"$ERR_MISSING\""
expect_run failed "$msg" no "$msg" -- /uninstall /silent

step "alarm mail over STARTTLS through Schannel; refused: another CA, a forged root; a relay by address"
tls_mail_through_schannel
wineserver -k

step "German regional settings"
# Wine takes the user's locale from the environment of the Wine server's first programs, and
# needs the C library's locale for it; the test makes its own.
mkdir -p "$WORK/locale"
localedef -i de_DE -f UTF-8 "$WORK/locale/de_DE.UTF-8" >/dev/null 2>&1 ||
  fail "localedef de_DE.UTF-8 (Debian package locales)"
export LOCPATH="$WORK/locale" LANG=de_DE.UTF-8
start_wine_session
LOCALE_DE=$(probe locale)
echo "   $(printf '%s' "$LOCALE_DE" | paste -sd' ')"
[ "$LOCALE_DE" != "$LOCALE_EN" ] || fail "the German session has the English formats: $LOCALE_DE"
DECIMAL=$(printf '%s\n' "$LOCALE_DE" | sed -n 's/^decimal=//p')
mkdir "$WORK/first_session"
find "$DATA_DIR" -type f ! -name tempwarden.exe ! -name TEMPWARDEN.XML -exec mv {} "$WORK/first_session/" \;
# A card that answers with text in the local number format: the service reads it with the
# system's decimal separator and writes it back the same way.
echo string >"$WORK/agent/temperature.type"
echo "27${DECIMAL}5" >"$WORK/agent/temperature"
expect_run 0 "" no "" -- /install /silent
start_service
check_start_files "27${DECIMAL}5"
check_description
stop_service
check_no_reports
uninstall_service
wineserver -k

# ---- Registration extras and the installer ------------------------------------------------
# INSTALL gives the service a description, recovery actions (restart after a minute, count
# reset after a day) and the event source "Tempwarden" with the program as its message file,
# whose message table formats the events; UNINSTALL takes the source away. The installer,
# run with /S, installs into "C:\Program Files\Tempwarden", registers and starts the service
# (run again with /SMTPPASSWORD=, it stores the password as a dpapi: value, nowhere in clear);
# its uninstaller, with /S, removes the service and the program and keeps the configuration
# and the history.
# Wine's service manager takes failure actions without keeping them (its query answers
# ERROR_INVALID_LEVEL, 124) and says so on its "service" debug channel, with the reset period:
# there the trace is what can be checked.
check_failure_actions() {  # HOW_MANY_CHANGES_SO_FAR
  local out want="reset=86400
actions=restart/60000 restart/60000 restart/60000"
  out=$(probe qfa "$SERVICE" || true)
  if [ "$out" = "error=124" ]; then
    [ "$(grep -c 'SERVICE_CONFIG_FAILURE_ACTIONS not implemented: period 86400 ' \
      "$WORK/services.err")" = "$1" ] || fail "no failure actions: $(cat "$WORK/services.err")"
  else
    [ "$out" = "$want" ] || fail "failure actions: $out, wanted: $want"
  fi
}

installer_test() {
  local setup='C:\tw\tempwarden-setup.exe' out want before INSTALLER_SECRET='Inst4ller-Pass'
  # The session as start_wine_session makes it, but with the service manager's traces kept.
  wineserver -p
  WINEDEBUG=-all,fixme+service timeout 120 wine cmd /c exit </dev/null >/dev/null \
    2>"$WORK/services.err" || fail "Wine did not start"
  step "INSTALL: description, recovery actions, event source"
  expect_run 0 "" no "" -- /install /silent
  out=$(probe qdesc "$SERVICE") || fail "description: $out"
  [[ "$out" == "Watches the UPS temperature"* ]] || fail "description: $out"
  check_failure_actions 1
  # The id of the error events (severity error, message 1), as the Event Viewer formats it.
  out=$(probe eventsource Tempwarden 0xC0000001 "Service failed on start: disk full") ||
    fail "event source: $out"
  want="file=$EXE
types=7
text=Service failed on start: disk full"
  [ "$out" = "$want" ] || fail "event source:
$out
wanted:
$want"
  uninstall_service
  [ "$(probe eventsource Tempwarden 0xC0000001 x || true)" = "error=2" ] ||
    fail "the event source outlived the service"

  step "installer /S"
  cp "$TW_WIN_BUILD_DIR/tempwarden-setup.exe" "$WINEPREFIX/drive_c/tw/"
  rm -f "$SVC_DIR/tempwarden.exe"
  # The old layout: the settings and a history beside the program, which the installer moves
  # into the data folder.
  before=$(count_entries 50100)
  rm -f "$DATA_DIR/TEMPWARDEN.XML"
  mv "$(activity_log)" "$SVC_DIR/"
  write_settings "$SVC_DIR/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
    TempSleep=2 VoltageSleep=1 AlarmTemp=60
  timeout 120 wine "$setup" /S </dev/null >"$WORK/setup.out" 2>&1 || fail "installer: $(cat "$WORK/setup.out")"
  [ -f "$DATA_DIR/TEMPWARDEN.XML" ] && [ ! -e "$SVC_DIR/TEMPWARDEN.XML" ] &&
    [ ! -e "$SVC_DIR/$(basename "$(activity_log)")" ] || fail "the old layout's data stayed: $(ls "$SVC_DIR")"
  [ -f "$SVC_DIR/tempwarden.exe" ] && [ -f "$SVC_DIR/uninstall.exe" ] ||
    fail "installed: $(ls "$SVC_DIR")"
  cmp -s "$SVC_DIR/tempwarden.exe" "$TW_WIN_BUILD_DIR/tempwarden.exe" || fail "another program"
  [ "$(probe qc "$SERVICE" | sed -n 's/^path=//p')" = "\"$EXE\" /data \"$DATA\"" ] ||
    fail "registration"
  wait_state 4 20 || fail "not started by the installer: state $(state)"
  wait_until 20 '[ "$(count_entries 50100)" -gt "$before" ]' || fail "no start entry"
  check_failure_actions 2
  [ "$(probe eventsource Tempwarden 0xC0000001 x | sed -n 's/^text=//p')" = x ] ||
    fail "no event source"
  wout reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempwarden' \
    /v QuietUninstallString | grep -F 'uninstall.exe" /S' >/dev/null || fail "no uninstall entry"

  step "installer /S over the installation"
  # An upgrade: the running service is stopped and taken back before its program is replaced,
  # then registered and started again.
  before=$(count_entries 50100)
  local t0 rc=0
  t0=$(ms_now)
  # With the relay's password, which goes into the settings as a DPAPI value, not in clear.
  timeout 120 wine "$setup" /S "/SMTPPASSWORD=$INSTALLER_SECRET" </dev/null >"$WORK/setup.out" 2>&1 ||
    rc=$?
  # A service that does not stop within 30 s is ended by the installer: the upgrade goes on,
  # but such a service is a fault of its own, so its state is shown here.
  if [ "$rc" != 0 ] || [ $(($(ms_now) - t0)) -gt 25000 ]; then
    echo "   the installer took $(($(ms_now) - t0)) ms, exit code $rc; state $(state)"
    echo "   processes: $(service_processes | xargs -r cat 2>/dev/null | tr '\0' ' ')"
    echo "   the activity log ends: $(tail -n 3 "$(activity_log)" 2>/dev/null)"
  fi
  [ "$rc" = 0 ] || fail "installer again: $(cat "$WORK/setup.out")"
  wait_state 4 20 || fail "not running after the second installer: state $(state)"
  wait_until 20 '[ "$(count_entries 50100)" -gt "$before" ]' || fail "no new start entry"
  check_failure_actions 3
  grep -q '<SMTPPassword>dpapi:' "$DATA_DIR/TEMPWARDEN.XML" ||
    fail "the installer stored no dpapi: password: $(cat "$DATA_DIR/TEMPWARDEN.XML")"
  out=$(grep -rlaF -- "$INSTALLER_SECRET" "$DATA_DIR" "$SVC_DIR" "$WORK/setup.out" || true)
  [ -z "$out" ] || fail "the installer's password is in: $out"

  step "uninstaller /S"
  # The uninstaller runs from a copy in the temporary folder and returns at once.
  timeout 60 wine "C:\\Program Files\\Tempwarden\\uninstall.exe" /S </dev/null >/dev/null 2>&1 ||
    fail "uninstaller"
  wait_until 30 '[ ! -e "$SVC_DIR/uninstall.exe" ] && [ "$(state)" = none ]' ||
    fail "after the uninstaller: state $(state), files $(ls "$SVC_DIR")"
  [ ! -e "$SVC_DIR/tempwarden.exe" ] || fail "the program is still there"
  wait_until 5 '[ -z "$(service_processes)" ]' || fail "the service process is still there"
  [ -f "$DATA_DIR/TEMPWARDEN.XML" ] && [ -f "$(activity_log)" ] &&
    [ -f "$DATA_DIR/APCUPSTempLog_$(today).csv" ] || fail "history not kept: $(ls "$DATA_DIR")"
  [ "$(probe eventsource Tempwarden 0xC0000001 x || true)" = "error=2" ] || fail "event source kept"
  wout reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempwarden' |
    grep -F DisplayName >/dev/null && fail "uninstall entry kept"
  check_no_reports
  wineserver -k
}
installer_test

# ---- SNMP version 3 ------------------------------------------------------------------------
# The crypto known-answer table through BCrypt (tw_crypto_probe.exe), then the service polls
# snmpd over version 3 authPriv (SHA/AES). The community is one snmpd does not accept, so
# only version 3 can read the card; no password may show up in anything the service wrote.
snmpv3_poll() {
  local out
  step "crypto known answers through BCrypt"
  start_wine_session
  cp "$TW_WIN_BUILD_DIR/tw_crypto_probe.exe" "$WINEPREFIX/drive_c/tw/"
  out=$(wout 'C:\tw\tw_crypto_probe.exe') || fail "crypto known answers under Wine:
$out"
  [ "$(printf '%s\n' "$out" | tail -1)" = "0 failed" ] || fail "crypto known answers: $out"

  step "the service polls snmpd over SNMPv3 authPriv"
  # The uninstaller before took the program away with it; the history stays.
  mkdir -p "$SVC_DIR"
  cp "$TW_WIN_BUILD_DIR/tempwarden.exe" "$SVC_DIR/"
  stop_snmpd
  rm -f "$WORK/agent/temperature.type"
  echo 26 >"$WORK/agent/temperature"
  SNMPD_EXTRA_CONF=$'createUser upsreader SHA wine-auth-pass AES wine-priv-pass\nrouser upsreader priv' \
    start_snmpd "$WORK/agent" || fail "snmpd with a version 3 user"
  mkdir "$WORK/before_v3"
  find "$DATA_DIR" -type f ! -name tempwarden.exe -exec mv {} "$WORK/before_v3/" \;
  write_settings "$DATA_DIR/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=not-a-community \
    SNMPVersion=3 SNMPUser=upsreader SNMPAuthProtocol=SHA SNMPAuthPassword=wine-auth-pass \
    SNMPPrivProtocol=AES SNMPPrivPassword=wine-priv-pass SysLogTrap=7 PhoneHomeServer= \
    TempSleep=2 VoltageSleep=1 AlarmTemp=90
  expect_run 0 "" no "" -- /install /silent
  start_service
  check_start_files 26
  wait_until 10 '[ "$(count_entries 40000)" -ge 2 ]' || fail "no temperature passes over v3"
  stop_service
  check_no_reports
  out=$(grep -rl -e wine-auth-pass -e wine-priv-pass "$DATA_DIR" | grep -v 'TEMPWARDEN\.XML$' || true)
  [ -z "$out" ] || fail "a password in what the service wrote: $out"
  uninstall_service
  wineserver -k
}
snmpv3_poll
# ---- end of SNMP version 3 -----------------------------------------------------------------
echo "PASS"
