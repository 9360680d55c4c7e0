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
WIN_BUILD=${TW_WIN_BUILD_DIR:-$BUILD/../build-win}
# A build directory elsewhere: the cross build of this source tree.
[ -n "${TW_WIN_BUILD_DIR:-}" ] || [ -f "$WIN_BUILD/tempwarden.exe" ] || WIN_BUILD=$HERE/../build-win

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ -z "${TW_WINE_TEST_INNER:-}" ]; then
  command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 ||
    skip "Wine is not installed (Debian packages wine, wine64)"
  [ -f "$WIN_BUILD/tempwarden.exe" ] && [ -f "$WIN_BUILD/tw_wine_probe.exe" ] ||
    skip "no Windows build in $WIN_BUILD (tempwarden.exe, tw_wine_probe.exe)"
  # --kill-child: when the test is killed (a ctest timeout), the namespace's first process
  # (this script, which then cleans up) gets SIGTERM, and with it ends every process inside.
  isolate=(unshare -n -p -m --fork --mount-proc --kill-child=SIGTERM)
  [ "$(id -u)" -eq 0 ] || isolate=(unshare -r -n -p -m --fork --mount-proc --kill-child=SIGTERM)
  "${isolate[@]}" true 2>/dev/null || skip "cannot create network, pid and mount namespaces here"
  exec env TW_WINE_TEST_INNER=1 TW_WIN_BUILD_DIR="$(cd "$WIN_BUILD" && pwd)" \
    "${isolate[@]}" -- bash "$0" "$@"
fi
ip link set lo up
[ -x "$BUILD/tw_syslog_probe" ] || fail "missing $BUILD/tw_syslog_probe"

# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"

WORK=$(mktemp -d)
# Wine's own settings: a fresh 64-bit prefix, no Mono or Gecko installers, no desktop menus, no
# display (a message box then returns at once instead of waiting for a click), and its
# temporary files inside this test's directory.
export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export TMPDIR="$WORK/tmp" XDG_CACHE_HOME="$WORK/cache" XDG_CONFIG_HOME="$WORK/config"
export XDG_DATA_HOME="$WORK/data"
unset DISPLAY WAYLAND_DISPLAY LC_ALL LOCPATH
export LANG=C.UTF-8
mkdir -p "$WINEPREFIX" "$TMPDIR" "$WORK/agent"

ROGUE="" RELAY="" LISTENER=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true  # this test's prefix only
  for pid in $ROGUE $RELAY $LISTENER; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  stop_snmpd
  if [ -n "${TW_KEEP_WORK:-}" ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
# The first process of a pid namespace ignores signals it has no handler for.
trap 'exit 143' TERM INT

SERVICE=VOZIvazure
SVC_DIR="$WINEPREFIX/drive_c/Program Files/Tempwarden"
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
wait_state() {  # STATE SECONDS
  local deadline=$(( $(ms_now) + $2 * 1000 ))
  while [ "$(state)" != "$1" ]; do
    [ "$(ms_now)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
wait_until() {  # SECONDS CONDITION
  local deadline=$(( $(ms_now) + $1 * 1000 ))
  until eval "$2"; do
    [ "$(ms_now)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
# Runs the program with a command line and checks what a person or a script would see: the
# exit code (0, or "failed" for any other), the program's text on standard output and error,
# whether a message box came up, and what went to the event log. Wine's traces show both the
# message boxes (it puts up every one, and with no display it returns at once) and the event
# log.
expect_run() {  # EXIT TEXT BOX(yes|no) EVENT -- ARGS...
  local want="$1|$2|$3|$4" rc text box=no event
  shift 5
  set +e
  WINEDEBUG=-all,trace+dialog,err+eventlog timeout 60 wine "$EXE" "$@" </dev/null \
    >"$WORK/run.out" 2>"$WORK/run.err"
  rc=$?
  set -e
  [ "$rc" = 0 ] || rc=failed
  text=$(cat "$WORK/run.out" "$WORK/run.err" | tr -d '\r' |
    grep -v -e ':trace:dialog:' -e ':err:eventlog:' || true)
  if grep -F DIALOG_CreateIndirect "$WORK/run.err" >/dev/null; then box=yes; fi
  event=$(tr -d '\r' <"$WORK/run.err" |
    sed -n 's/^[0-9a-f]*:err:eventlog:ReportEventW L"\(.*\)"$/\1/p' | sed 's/\\"/"/g')
  [ "$rc|$text|$box|$event" = "$want" ] || fail "tempwarden.exe $*:
    exit code, text, message box, event log: $rc|$text|$box|$event
    wanted:                                  $want"
}
service_processes() { grep -las '[t]empwarden\.exe' /proc/[0-9]*/cmdline || true; }

today() { date +%Y%m%d; }
activity_log() { echo "$SVC_DIR/APC-$(today).CSV"; }
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
  wait_until 20 '[ "$(count_entries 50200)" -ge 1 ] && [ -f "$SVC_DIR/D!Tempwarden.TXT" ] &&
    [ -f "$SVC_DIR/APCUPSTempLog_$(today).csv" ]' ||
    fail "service files missing: $(ls "$SVC_DIR"); log: $(cat "$log" 2>/dev/null)"
  [ "$(count_entries 50100)" = 1 ] || fail "50100 entries: $(cat "$log")"
  tr -d '\r' <"$log" | awk -F, '$4 == 50100 && $5 == "\"[Function=TMonitorUPSService.ServiceStart]\""' |
    grep . >/dev/null || fail "50100 entry: $(cat "$log")"
  grep -F "[UPSTemp=$temperature][UPSState=OnLine][UPSInputVoltage=230]" "$log" >/dev/null ||
    fail "50200 entry: $(cat "$log")"
  [ -f "$SVC_DIR/TEMPWARDEN.XML" ] || fail "no TEMPWARDEN.XML"
  [ -f "$SVC_DIR/APCUPSTempLog_$(today).html" ] || fail "no chart page of the day"
  # Both are replaced at every pass: a read may fall between truncation and write.
  wait_until 5 '[ "$(cat "$SVC_DIR/UPS-Input-Voltage.txt")" = 230 ]' ||
    fail "voltage file: $(cat "$SVC_DIR/UPS-Input-Voltage.txt")"
  wait_until 5 '[ "$(cat "$SVC_DIR/UPS-Temp.txt")" = "$temperature" ]' ||
    fail "temperature file: $(cat "$SVC_DIR/UPS-Temp.txt")"
  row=$(tr -d '\r' <"$SVC_DIR/APCUPSTempLog_$(today).csv" | tail -1)
  case "$row" in *",$temperature") ;; *) fail "temperature row: $row" ;; esac
  # Every line of the debug file starts with the date-time text of now; every temperature
  # pass starts the file anew.
  # shellcheck disable=SC2046
  date_text=$(probe date $(date '+%Y %-m %-d'))
  wait_until 5 'debug_file_dated "$date_text"' ||
    fail "debug file, wanted lines starting with $date_text: $(cat "$SVC_DIR/D!Tempwarden.TXT")"
}
debug_file_dated() {  # DATE_TEXT
  local debug
  debug=$(tr -d '\r' <"$SVC_DIR/D!Tempwarden.TXT")
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
  [ -z "$(find "$SVC_DIR" -name 'E!*')" ] ||
    fail "exception reports: $(find "$SVC_DIR" -name 'E!*' -exec cat {} +)"
}

# ---- A failure of the monitoring cycle ends the service as failed ----------------------------
# The agent answers the input voltage with a text that is no number, which the start-up
# reading cannot take: the cycle reports the failure and ends, and the service manager sees
# SERVICE_STOPPED with ERROR_SERVICE_SPECIFIC_ERROR (1066) and the service's own exit code 1,
# so that its recovery actions can act.
check_failure_exit_code() {
  step "a failure of the cycle stops the service with an exit code"
  echo string >"$WORK/agent/voltage.type"
  echo "no volts" >"$WORK/agent/voltage"
  w net start "$SERVICE" >/dev/null 2>&1 || true
  wait_until 20 '[ "$(state)" = 1 ] && [ -n "$(find "$SVC_DIR" -name "E!*")" ]' ||
    fail "the failed service did not stop: state $(state)"
  local out
  out=$(env -u LOCPATH LANG=C.UTF-8 timeout 60 wine sc query "$SERVICE" </dev/null 2>/dev/null |
    tr -d '\r' || true)
  printf '%s\n' "$out" | grep -qE '^ *WIN32_EXIT_CODE *: *1066( |$)' ||
    fail "no service-specific error: $out"
  printf '%s\n' "$out" | grep -qE '^ *SERVICE_EXIT_CODE *: *1( |$)' || fail "exit code: $out"
  wait_until 5 '[ -z "$(service_processes)" ]' || fail "the service process is still there"
  rm -f "$WORK/agent/voltage.type"
  echo 230 >"$WORK/agent/voltage"
  find "$SVC_DIR" -name 'E!*' -delete
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
path=\"$EXE\"
account=LocalSystem
display_name=Tempwarden
dependencies=
group="
[ "$config" = "$want_config" ] || fail "registration:
$config
wanted (own process, automatic start, normal error control, quoted path, local system):
$want_config"

step "a second install fails"
msg="Service \"Tempwarden\" failed to install with error: \"$ERR_EXISTS\""
# SILENT: no message box that an unattended installer would wait on; the text goes to standard
# error and the event log. Without SILENT: a message box, and standard error as well.
expect_run failed "$msg" no "$msg" -- -INSTALL /Silent
expect_run failed "$msg" yes "" -- /install

step "start against snmpd, a mail relay and a syslog collector"
start_snmpd "$WORK/agent" || fail "snmpd"
/usr/bin/python3 "$HERE/smtp_server.py" --transcript "$WORK/smtp.transcript" --raw "$WORK/smtp.raw" \
  >"$WORK/relay.out" 2>&1 &
RELAY=$!
wait_until 10 'grep "^READY " "$WORK/relay.out" >/dev/null' || fail "relay: $(cat "$WORK/relay.out")"
# The temperature of 27 is above the alarm level: the first temperature pass mails an alarm.
cat >"$SVC_DIR/TEMPWARDEN.XML" <<XML
<XML>
  <UPSHost>127.0.0.1</UPSHost>
  <SNMPCommunity>public</SNMPCommunity>
  <SysLogTrap>7</SysLogTrap>
  <PhoneHomeServer></PhoneHomeServer>
  <TempSleep>2</TempSleep>
  <VoltageSleep>1</VoltageSleep>
  <AlarmTemp>25</AlarmTemp>
  <EmailToAddr>ops@example.test</EmailToAddr>
  <SMTPRelay>127.0.0.1</SMTPRelay>
  <SMTPPort>$(sed -n 's/^READY //p' "$WORK/relay.out")</SMTPPort>
  <EmailFromAddr>ups@example.test</EmailFromAddr>
  <SMTPUser>opsmail.brindle</SMTPUser>
  <SMTPPassword>pq4tnvkxe</SMTPPassword>
  <SyslogCollector>127.0.0.1</SyslogCollector>
</XML>
XML
"$BUILD/tw_syslog_probe" listen 127.0.0.1 514 1 20000 "$WORK/collector.ready" \
  >"$WORK/collector.heard" &
LISTENER=$!
wait_until 5 '[ -f "$WORK/collector.ready" ]' || fail "syslog listener did not start"
start_service
check_start_files 27
check_description
wait "$LISTENER" || fail "syslog listener"
LISTENER=""
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

step "pause"
# Wine's sc and net know no pause and continue: the probe sends them through ControlService.
out=$(probe control "$SERVICE" pause) || fail "pause refused: $out"
wait_state 7 10 || fail "not paused: state $(state)"
before=$(count_entries 40000)
debug_before=$(cat "$SVC_DIR/D!Tempwarden.TXT")
log_before=$(cat "$(activity_log)")
sleep 6
[ "$(count_entries 40000)" = "$before" ] || fail "a temperature pass ran while paused"
[ "$(cat "$SVC_DIR/D!Tempwarden.TXT")" = "$debug_before" ] || fail "the debug file changed while paused"
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
ROGUE=""
echo "   ended after $(cat "$WORK/by_hand.ms") ms with exit code $(cat "$WORK/by_hand.rc")"
[ "$(cat "$WORK/by_hand.rc")" = 1 ] || fail "exit code $(cat "$WORK/by_hand.rc"): $(cat "$WORK/by_hand.out")"
grep -F "err:eventlog:ReportEventW L\"$ERR_CONNECT\"" "$WORK/by_hand.out" >/dev/null ||
  fail "no dispatcher error in the event log: $(cat "$WORK/by_hand.out")"
[ "$(state)" = 4 ] || fail "the service is no longer running: state $(state)"

step "stop"
stop_service
check_no_reports
check_failure_exit_code

step "uninstall"
uninstall_service
msg="Service \"Tempwarden\" failed to uninstall with error: \"$ERR_MISSING\""
expect_run failed "$msg" no "$msg" -- /uninstall /silent
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
find "$SVC_DIR" -type f ! -name tempwarden.exe ! -name TEMPWARDEN.XML -exec mv {} "$WORK/first_session/" \;
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
echo "PASS"
