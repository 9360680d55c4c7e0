#!/usr/bin/env bash
# The Windows Installer package under Wine's msiexec, as a fleet tool would run it: a silent
# install with properties registers "VOZIvazure" as "NT SERVICE\VOZIvazure" with its data
# folder, writes the properties into TEMPWARDEN.XML and starts the service, which polls
# Debian's snmpd with them; a bad property fails the install and leaves no service behind; an
# upgrade from a package of a lower version (built here from the same program) keeps the
# settings, the history and a named instance, which runs again; a downgrade is refused; the
# removal takes the services and the program and leaves the data.
#
# The password is stored sealed (DPAPI, "/protect"), not in clear.
#
# What Wine does not do: it writes properties into its log's property list even when
# MsiHiddenProperties names them (Windows writes "**********"); the test shows that and checks
# that the password appears nowhere else in the log. It registers the program's path
# without quotes, and writes no launch condition's message into the log. Its upgrade removes the older package without UPGRADINGPRODUCTCODE (below).
#
# Runs in network, pid and mount namespaces of its own, like tests/wine_service_test.sh.
# usage: bash tests/wine_msi_test.sh BUILD_DIR
set -euo pipefail
[ -z "${TW_TRACE:-}" ] || set -x

BUILD=$(cd "${1:?usage: wine_msi_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"
# shellcheck source=tests/wine_lib.sh
source "$HERE/wine_lib.sh"
[ -n "${TW_WINE_TEST_INNER:-}" ] || [ -x /usr/sbin/snmpd ] || skip "Debian's snmpd is not installed"
[ -n "${TW_WINE_TEST_INNER:-}" ] || command -v wixl >/dev/null 2>&1 || skip "wixl is not installed"
wine_isolate "$BUILD" "tempwarden.exe tw_wine_probe.exe tw_msi_action.dll" "$0" "$@"
ip link set lo up
# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$TW_WIN_BUILD_DIR/CMakeCache.txt")
NEW_MSI="$TW_WIN_BUILD_DIR/tempwarden-$VERSION-x64.msi"
[ -f "$NEW_MSI" ] || skip "no $NEW_MSI (cmake --build build-win --target msi)"

wine_prefix

PROGRAM_DIR="$WINEPREFIX/drive_c/Program Files/Tempwarden"
DATA_DIR="$WINEPREFIX/drive_c/ProgramData/Tempwarden"
EXE='C:\Program Files\Tempwarden\tempwarden.exe'
PROBE='C:\tw\tw_wine_probe.exe'
w() { timeout 60 wine "$@" </dev/null; }
probe() { timeout 60 wine "$PROBE" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
state() {  # SERVICE: the state number of `sc query`, or "none"
  local out
  out=$(timeout 60 wine sc query "$1" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *STATE *: *\([0-9][0-9]*\).*/\1/p' || true)
  echo "${out:-none}"
}
# msiexec ARGS...: its exit status; the log (C:\tw\NAME.log) as text in $WORK/NAME.log.
msi() {  # NAME ARGS...
  local name=$1 rc=0
  shift
  timeout 180 wine msiexec "$@" /l*v "C:\\tw\\$name.log" </dev/null >"$WORK/$name.out" 2>&1 || rc=$?
  tr -d '\r' <"$WINEPREFIX/drive_c/tw/$name.log" >"$WORK/$name.log" 2>/dev/null || true
  return "$rc"
}
setting() { tr -d '\r' <"$DATA_DIR/TEMPWARDEN.XML" | sed -n "s:.*<$1>\\(.*\\)</$1>.*:\\1:p"; }
today=$(date +%Y%m%d)
starts() { grep -s -c ",50100," "$1/APC-$today.CSV" || true; }

# The package of a lower version: the same program, made by the same script.
sh "$HERE/../packaging/make_msi.sh" "$HERE/.." "$TW_WIN_BUILD_DIR/tempwarden.exe" 0.9.0.0 \
  "$WORK/old.msi" || fail "the older package"

# Wine's service manager first: a cold Wine fails msiexec's StartServices.
wineserver -p
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || fail "Wine did not start"
mkdir -p "$WINEPREFIX/drive_c/tw"
cp "$TW_WIN_BUILD_DIR/tw_wine_probe.exe" "$WORK/old.msi" "$WINEPREFIX/drive_c/tw/"
cp "$NEW_MSI" "$WINEPREFIX/drive_c/tw/new.msi"
start_snmpd "$WORK/agent" || fail "snmpd"

echo "-- a bad property: the install fails and leaves no service"
if msi bad /i 'C:\tw\new.msi' /qn UPSHOST=127.0.0.1 ALARMTEMP=hot; then
  fail "installed with ALARMTEMP=hot: $(cat "$WORK/bad.out")"
fi
grep -Fx 'tempwarden.exe: AlarmTemp: the value "hot" is not usable (in its place: 0).' \
  "$WORK/bad.log" >/dev/null || fail "the log does not say why: $(grep -n Tw "$WORK/bad.log")"
left=$(state VOZIvazure)
if [ "$left" != none ]; then
  echo "   Wine's rollback left the service registered (state $left): removed here"
  w sc delete VOZIvazure >/dev/null 2>&1 || true
  [ "$(state VOZIvazure)" = none ] || fail "the service left behind cannot be removed"
fi
[ ! -e "$PROGRAM_DIR/tempwarden.exe" ] || fail "the program stayed after the rollback"

echo "-- install $WORK/old.msi silently with properties"
password="pw-$RANDOM-$RANDOM"
msi old /i 'C:\tw\old.msi' /qn UPSHOST=127.0.0.1 SNMPCOMMUNITY=public ALARMTEMP=41.5 \
  EMAILTO=ops@example.invalid SMTPPORT=587 "SMTPPASSWORD=$password" ||
  fail "install: $(cat "$WORK/old.out"); log: $(grep -n -e Tw -e rror "$WORK/old.log")"
config=$(probe qc VOZIvazure) || fail "not registered: $config"
want="type=16
start=2
error_control=1
path=\"$EXE\" /data \"C:\\ProgramData\\Tempwarden\"
account=NT SERVICE\\VOZIvazure
display_name=Tempwarden
dependencies=
group="
# Windows Installer quotes the program's path; Wine's writes it bare (and still starts it).
bare=$(printf '%s\n' "$want" | sed 's/^path="\([^"]*\)"/path=\1/')
if [ "$config" != "$want" ] && [ "$config" = "$bare" ]; then
  echo "   Wine registered the program's path without quotes (Windows Installer quotes it)"
  config=$want
fi
[ "$config" = "$want" ] || fail "registration:
$config
wanted:
$want"
for source in Tempwarden VOZIvazure; do
  probe eventsource "$source" 0xC0000001 x | grep -Fx 'text=x' >/dev/null ||
    fail "no event source $source"
done
for kv in UPSHost=127.0.0.1 SNMPCommunity=public AlarmTemp=41.5 EmailToAddr=ops@example.invalid \
  SMTPPort=587 SMTPRelay= EmailCCAddr= TempSleep=300; do
  [ "$(setting "${kv%%=*}")" = "${kv#*=}" ] || fail "${kv%%=*}: '$(setting "${kv%%=*}")', wanted '${kv#*=}'"
done
wait_until 30 '[ "$(state VOZIvazure)" = 4 ] && grep -s ",50200," "$DATA_DIR/APC-$today.CSV" |
  grep -F "[UPSTemp=27]" >/dev/null' ||
  fail "not polling: state $(state VOZIvazure), log: $(cat "$DATA_DIR/APC-$today.CSV" 2>&1)"
# The password: nowhere in the log but Wine's own property list (see the top).
# TwSettings carries the settings action's command line (its CustomActionData); both are in
# MsiHiddenProperties.
hidden=$(grep -nF "$password" "$WORK/old.log" |
  grep -v -E "^[0-9]+:Property\(S\): (SMTPPASSWORD|TwSettings) = " || true)
[ -z "$hidden" ] || fail "the password in the log: $hidden"
grep -F "Property(S): SMTPPASSWORD = $password" "$WORK/old.log" >/dev/null &&
  echo "   Wine lists SMTPPASSWORD and TwSettings with their values in the log's property list (Windows hides them)"
# Stored sealed, not in clear.
case "$(setting SMTPPassword)" in
  dpapi:*) ;;
  *) fail "SMTPPassword is not sealed: $(setting SMTPPassword)" ;;
esac
sealed=$(setting SMTPPassword)

echo "-- a named instance beside it"
w "$EXE" /install north /silent >/dev/null 2>&1 || fail "/install north"
write_settings "$DATA_DIR/north/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public \
  SysLogTrap=7 PhoneHomeServer= AlarmTemp=60
w net start 'VOZIvazure$north' >/dev/null 2>&1 || true
wait_until 30 '[ "$(state "VOZIvazure\$north")" = 4 ] && [ "$(starts "$DATA_DIR/north")" -ge 1 ]' ||
  fail "north does not run: $(state 'VOZIvazure$north')"

echo "-- upgrade to $(basename "$NEW_MSI") without properties"
cp "$DATA_DIR/TEMPWARDEN.XML" "$WORK/settings.before"
cp "$DATA_DIR/APCUPSTempLog_$today.csv" "$WORK/history.before"
before=$(starts "$DATA_DIR") before_north=$(starts "$DATA_DIR/north")
msi upgrade /i 'C:\tw\new.msi' /qn || fail "upgrade: $(grep -n -e Tw -e rror "$WORK/upgrade.log")"
cmp "$DATA_DIR/TEMPWARDEN.XML" "$WORK/settings.before" || fail "the settings changed"
cmp -n "$(stat -c %s "$WORK/history.before")" "$DATA_DIR/APCUPSTempLog_$today.csv" \
  "$WORK/history.before" || fail "the history changed"
cmp -s "$PROGRAM_DIR/tempwarden.exe" "$TW_WIN_BUILD_DIR/tempwarden.exe" || fail "not replaced"
# Wine's RemoveExistingProducts removes the older package with REMOVE=ALL alone, without the
# UPGRADINGPRODUCTCODE that Windows sets, so that removal takes the named instances as a
# removal of its own does (Windows keeps them). Their data stays either way: re-registered here.
if [ "$(state 'VOZIvazure$north')" = none ]; then
  echo "   Wine's upgrade removed the named instance (no UPGRADINGPRODUCTCODE): registered again"
  [ -f "$DATA_DIR/north/TEMPWARDEN.XML" ] && [ -f "$DATA_DIR/north/APC-$today.CSV" ] ||
    fail "north's settings or history went with it"
  w "$EXE" /install north /silent >/dev/null 2>&1 || fail "/install north again"
  w net start 'VOZIvazure$north' >/dev/null 2>&1 || true
fi
wait_until 30 '[ "$(state VOZIvazure)" = 4 ] && [ "$(state "VOZIvazure\$north")" = 4 ] &&
  [ "$(starts "$DATA_DIR")" -gt "$before" ] && [ "$(starts "$DATA_DIR/north")" -gt "$before_north" ]' ||
  fail "after the upgrade: states $(state VOZIvazure) $(state 'VOZIvazure$north'), starts $(starts "$DATA_DIR") $(starts "$DATA_DIR/north")"
grep -F "ProductVersion = $(printf '%s' "$VERSION" | cut -d. -f1-3)" "$WORK/upgrade.log" >/dev/null ||
  fail "the upgrade log names another version"

echo "-- the older package over the newer one is refused"
if msi downgrade /i 'C:\tw\old.msi' /qn; then fail "downgraded"; fi
# The launch condition refused it; Wine does not write its message into the log (Windows
# does): the message is the package's.
grep -E "Action ended .*: LaunchConditions\. Return value [^1]" "$WORK/downgrade.log" >/dev/null ||
  fail "no refusing launch condition in the log: $(grep -n Launch "$WORK/downgrade.log")"
msiinfo export "$WORK/old.msi" LaunchCondition | grep -F "NOT WIX_DOWNGRADE_DETECTED" |
  grep -F "A newer version of Tempwarden is already installed" >/dev/null ||
  fail "the package carries no downgrade message"
[ "$(state VOZIvazure)" = 4 ] || fail "the refused downgrade stopped the service"

echo "-- the same version again repairs, properties change only what they name"
msi repair /i 'C:\tw\new.msi' /qn ALARMTEMP=39 || fail "repair: $(grep -n -e Tw -e rror "$WORK/repair.log")"
[ "$(setting AlarmTemp)" = 39 ] && [ "$(setting UPSHost)" = 127.0.0.1 ] &&
  [ "$(setting SMTPPassword)" = "$sealed" ] || fail "after the repair: $(cat "$DATA_DIR/TEMPWARDEN.XML")"
wait_until 30 '[ "$(state VOZIvazure)" = 4 ] && [ "$(state "VOZIvazure\$north")" = 4 ]' ||
  fail "after the repair: states $(state VOZIvazure) $(state 'VOZIvazure$north')"

echo "-- removal: the services and the program go, the data stays"
msi remove /x 'C:\tw\new.msi' /qn || fail "removal: $(grep -n -e Tw -e rror "$WORK/remove.log")"
[ "$(state VOZIvazure)" = none ] || fail "VOZIvazure still registered"
[ "$(state 'VOZIvazure$north')" = none ] || fail "north still registered"
[ ! -e "$PROGRAM_DIR/tempwarden.exe" ] || fail "the program stayed"
for f in TEMPWARDEN.XML "APC-$today.CSV" "APCUPSTempLog_$today.csv" north/TEMPWARDEN.XML; do
  [ -f "$DATA_DIR/$f" ] || fail "$f did not stay"
done
for source in Tempwarden VOZIvazure 'Tempwarden (north)' 'VOZIvazure$north'; do
  [ "$(probe eventsource "$source" 0xC0000001 x || true)" = "error=2" ] ||
    fail "the event source $source outlived the removal"
done
wineserver -k
echo "PASS"
