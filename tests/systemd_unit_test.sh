#!/usr/bin/env bash
# The Linux service as systemd meets it: the unit that INSTALL writes (for program directories
# with awkward names) through systemd-analyze verify and security, the service's own account
# and directory, UNINSTALL leaving both, INSTALL's refusals (a folder on the program's path that
# others own or may write, by mode or access list; a path a unit cannot carry; an existing data
# folder of another's) and StateDirectory= only for its own or a new folder, and the sd_notify
# messages of the real program (READY after the start phase, STATUS with the reading's time,
# WATCHDOG at every loop pass, STOPPING) on a notify socket of the test's own, the program
# running under that account against Debian's snmpd.
#
# Runs in mount and network namespaces of its own: /etc is a private copy (the account is
# created there only), /var/lib an empty tmpfs for the last part, and nothing it sends leaves
# the machine.
# usage: bash tests/systemd_unit_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: systemd_unit_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"
# shellcheck source=tests/private_etc.sh
source "$HERE/private_etc.sh"
for tool in systemd-analyze python3 setpriv strace; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
own_etc "$0" "$@"
own_network_namespace "$0" "$@"
# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"
# shellcheck source=tests/systemd_checks.sh
source "$HERE/systemd_checks.sh"

WORK=$(mktemp -d)
chmod 755 "$WORK"
at_exit 'rm -rf "$WORK"'
getent passwd tempwarden >/dev/null && fail "the private /etc already knows tempwarden"

echo "-- INSTALL: the unit, the account, a data directory of its own; the program stays root's"
for name in svc "ups watch" "100%" '$HOME'; do
  dir="$WORK/$name"
  units="$WORK/units-${#name}"
  mkdir -p "$dir" "$units"
  cp "$BUILD/tempwarden" "$dir/tempwarden"
  echo "<XML></XML>" >"$dir/TEMPWARDEN.XML"
  out=$(TEMPWARDEN_UNIT_DIR="$units" "$dir/tempwarden" /install /data "$dir/data/ups" 2>&1) \
    || fail "$name: install: $out"
  [ "$out" = "Service installed successfully" ] || fail "$name: install message: $out"
  echo "[$name]"
  check_unit "$units/tempwarden.service"
  [ "$(stat -c %U:%a "$dir/data")" = tempwarden:750 ] && [ "$(stat -c %U:%a "$dir/data/ups")" = tempwarden:750 ] \
    || fail "$name: data directory $(stat -c %U:%a "$dir/data/ups")"
  [ "$(stat -c %U "$dir")" = root ] || fail "$name: the program's folder changed owner"
  [ "$(stat -c %U "$dir/TEMPWARDEN.XML")" = root ] || fail "$name: a file it did not create changed owner"
  [ "$(stat -c %U "$dir/tempwarden")" = root ] || fail "$name: the program changed owner"
  [ "$(stat -c %U "$units/VOZIvazure.key")" = tempwarden ] || fail "$name: key file owner"
done
IFS=: read -r _ _ uid gid _ home shell < <(getent passwd tempwarden)
[ "$uid" -lt 1000 ] || fail "not a system account: uid $uid"
[ "$(getent group tempwarden | cut -d: -f3)" = "$gid" ] || fail "no group of its own"
[ "$home" = "$WORK/svc/data/ups" ] || fail "home $home"

echo "-- INSTALL NAME: a named instance beside the unnamed one"
out=$(TEMPWARDEN_UNIT_DIR="$WORK/units-3" "$WORK/svc/tempwarden" /install ups2 /silent \
  /data "$WORK/svc/data/ups2" 2>&1) || fail "instance: $out"
unit="$WORK/units-3/tempwarden@ups2.service"
check_unit "$unit" >/dev/null
grep -qx "ExecStart=\"$WORK/svc/tempwarden\" -data \"$WORK/svc/data/ups2\" -instance \"ups2\"" "$unit" \
  || fail "instance unit: $(cat "$unit")"
grep -qx 'Description=Tempwarden (ups2)' "$unit" || fail "instance description"
[ "$(stat -c %U "$WORK/units-3/VOZIvazure\$ups2.key")" = tempwarden ] || fail "instance key file"
[ -f "$WORK/units-3/tempwarden.service" ] || fail "the unnamed unit went"

echo "-- INSTALL refuses a program folder that others may write"
for mode in 0777 0775; do
  open="$WORK/open$mode"
  mkdir -p "$open"
  chmod "$mode" "$open"
  chgrp tempwarden "$open"
  cp "$BUILD/tempwarden" "$open/tempwarden"
  set +e
  err=$(TEMPWARDEN_UNIT_DIR="$WORK/units-open" "$open/tempwarden" /install /silent /data "$WORK/d" 2>&1); rc=$?
  set -e
  [ $rc -ne 0 ] && grep -qF "The program's folder \"$open\" may be written by" <<<"$err" \
    || fail "$mode: $rc $err"
  [ ! -e "$WORK/d" ] || fail "$mode: data directory made before the refusal"
done

echo "-- the service's account cannot write the program or its folder; links are not followed"
svc="$WORK/svc"
as_service() { setpriv --reuid=tempwarden --regid=tempwarden --clear-groups --no-new-privs "$@"; }
as_service sh -c "echo x >>'$svc/tempwarden'" 2>/dev/null && fail "the account wrote the program"
as_service sh -c "echo x >'$svc/replacement' && mv -f '$svc/replacement' '$svc/tempwarden'" 2>/dev/null \
  && fail "the account replaced the program"
as_service ln -s /etc/shadow "$svc/data/ups/UPS-Temp.txt.tw-new" || fail "planting a link"
as_service ln -s /etc/shadow "$svc/data/ups/UPS-Temp.txt" || fail "planting a link"
cp -p /etc/shadow "$WORK/shadow.before"
# Root refuses to work in the account's folder at all; the service itself replaces the link.
set +e
err=$("$svc/tempwarden" -console -data "$svc/data/ups" 2>&1); rc=$?
set -e
[ $rc -eq 1 ] && grep -qF "Refusing to run as root in \"$svc/data/ups/\", which belongs to the user \"tempwarden\"" <<<"$err" \
  || fail "root in the account's folder: $rc $err"
cmp -s /etc/shadow "$WORK/shadow.before" || fail "/etc/shadow changed"
case "$shell" in */nologin|/bin/false) ;; *) fail "login shell $shell" ;; esac

echo "-- UNINSTALL leaves the account and the files, and says so"
units="$WORK/units-${#name}"
out=$(TEMPWARDEN_UNIT_DIR="$units" "$WORK/$name/tempwarden" /uninstall /data "$WORK/$name/data/ups" 2>&1) \
  || fail "uninstall: $out"
[ "$out" = "Service uninstalled successfully
The user \"tempwarden\" and the files in $WORK/$name/data/ups are left in place." ] || fail "uninstall message: $out"
[ ! -e "$units/tempwarden.service" ] && [ ! -e "$units/VOZIvazure.key" ] || fail "unit left"
[ -d "$WORK/$name/data/ups" ] && getent passwd tempwarden >/dev/null || fail "too much removed"

echo "-- sd_notify from the real program, running as tempwarden against snmpd"
start_snmpd "$WORK/agent" || fail "snmpd"
svc="$WORK/svc"
write_settings "$svc/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
  TempSleep=2 VoltageSleep=1 AlarmTemp=40
messages="$WORK/notify.txt"
: >"$messages"
start_bg python3 "$HERE/notify_listener.py" "$WORK/notify" "$messages" 30
LISTENER=$!
wait_until 5 '[ -S "$WORK/notify" ]' || true
chmod 777 "$WORK/notify"
# Under strace, to hold what it did against the unit's sandbox afterwards.
: >"$WORK/trace"
chmod 666 "$WORK/trace"
(cd / && NOTIFY_SOCKET="$WORK/notify" TEMPWARDEN_UNIT_DIR="$WORK/units-3" \
   exec setpriv --reuid=tempwarden --regid=tempwarden --clear-groups --no-new-privs \
   bash -c 'umask 0027; exec strace -f -qq -o "$1" "$0" -data "$2" -config "$3"' "$svc/tempwarden" \
     "$WORK/trace" "$svc/data/ups" "$svc/TEMPWARDEN.XML") \
   >"$WORK/service.out" 2>&1 &
SERVICE=$!
track_pid "$SERVICE"
# The program under strace is stopped before strace: strace lets a program it is told to leave
# run on.
at_exit '[ -z "${program:-}" ] || kill -9 "$program" 2>/dev/null || true'
wait_until 10 '[ "$(grep -c "^WATCHDOG=1\$" "$messages")" -ge 3 ] &&
  grep -q "^STATUS=\[UPSTemp=27\]" "$messages"' || true
# $SERVICE is strace; the control signals go to the program it runs, which strace follows out.
program=$(pgrep -P "$SERVICE" -x tempwarden) || fail "no program under strace"
# Paused, the service thread stands still on purpose: the watchdog is still fed, and continuing
# reports ready again with the last reading.
after() { sed -n "/^$1\$/,\$p" "$messages" | tail -n +2; }
kill -USR1 "$program"
wait_until 5 'grep -q "^WATCHDOG=1\$" <(after "STATUS=Paused")' || true
grep -q '^WATCHDOG=1$' <(after 'STATUS=Paused') || fail "no WATCHDOG=1 while paused: $(cat "$messages")"
kill -USR2 "$program"
wait_until 5 '[ "$(grep -c "^READY=1" "$messages")" -ge 2 ]' || true
grep -qx 'READY=1 | STATUS=\[UPSTemp=27\].*' "$messages" || fail "no READY=1 after continue: $(cat "$messages")"
kill -TERM "$program"
wait "$SERVICE" || fail "exit code $?: $(cat "$WORK/service.out")"
program=""
wait "$LISTENER" || true
echo "messages: $(sort "$messages" | uniq -c | tr '\n' ';')"
# READY=1 comes once the start phase is over, with the first reading and its time; before it
# only that status line.
ready_at=$(grep -m1 -n '^READY=1' "$messages" | cut -d: -f1)
[ -n "$ready_at" ] || fail "no READY=1: $(cat "$messages")"
sed -n "${ready_at}p" "$messages" |
  grep -qx 'READY=1 | STATUS=\[UPSTemp=27\]\[UPSInputVoltage=230\]\[UPSState=OnLine\]\[At=.*\]' \
  || fail "READY=1 without the first reading: $(cat "$messages")"
! head -n $((ready_at - 1)) "$messages" | grep -qv '^STATUS=\[UPSTemp=27\]' \
  || fail "something before READY=1: $(cat "$messages")"
[ "$(grep -c '^WATCHDOG=1$' "$messages")" -ge 3 ] || fail "too few WATCHDOG=1: $(cat "$messages")"
grep -qx 'STATUS=\[UPSTemp=27\]\[UPSInputVoltage=230\]\[UPSState=OnLine\]\[At=.*\]' "$messages" \
  || fail "no reading as STATUS: $(cat "$messages")"
[ "$(tail -1 "$messages")" = "STOPPING=1" ] || fail "STOPPING=1 is not the last: $(cat "$messages")"
log="$svc/data/ups/APC-$(date +%Y%m%d).CSV"
grep -q ',50200,' "$log" || fail "the service wrote no start-up entry"
[ "$(stat -c %U:%a "$log")" = tempwarden:640 ] || fail "log file $(stat -c %U:%a "$log")"
grep -q '^Description=Brindle v' "$WORK/units-3/VOZIvazure.key" || fail "no description in the key"
ls "$svc"/data/ups/E\!RAZIVED-*.XML >/dev/null 2>&1 && fail "exception reports: $(cat "$svc"/data/ups/E\!RAZIVED-*.XML)"
# The links the account planted were replaced or refused, never followed.
cmp -s /etc/shadow "$WORK/shadow.before" || fail "/etc/shadow changed"

echo "-- what the service did fits the unit's sandbox"
# Every system call in SystemCallFilter=@system-service ~@privileged @resources, every socket
# of the families in RestrictAddressFamilies=, every file opened for writing in its own
# directory (ReadWritePaths=, with ProtectSystem=strict).
python3 - "$WORK/trace" "$svc/data/ups" "$WORK/units-3/VOZIvazure.key" <<'PY' || fail "sandbox"
import re, subprocess, sys
trace, home, key = sys.argv[1:]
groups = {}
def expand(group):
    if group not in groups:
        names = set()
        out = subprocess.run(["systemd-analyze", "syscall-filter", group],
                             capture_output=True, text=True, check=True).stdout
        for line in out.splitlines()[1:]:
            word = line.split()[0] if line.split() else ""
            if word.startswith("@"):
                names |= expand(word)
            elif word and not word.startswith("#"):
                names.add(word)
        groups[group] = names
    return groups[group]
allowed = expand("@system-service") - expand("@privileged") - expand("@resources")
calls, families, written = set(), set(), set()
for line in open(trace, encoding="utf-8", errors="replace"):
    m = re.match(r"\d+ +(?:<\.\.\. )?([a-z0-9_]+)[( ](.*)", line)
    if not m:
        continue
    name, rest = m.groups()
    calls.add(name)
    if name == "socket" and "(" in line:
        families.add(rest.split(",")[0])
    if name == "openat" and re.search(r"O_(WRONLY|RDWR|CREAT)", rest):
        written.add(re.search(r'"([^"]*)"', rest).group(1))
denied = sorted(c for c in calls if c not in allowed and c != "execve")
wrong_family = families - {"AF_INET", "AF_INET6", "AF_UNIX", "AF_NETLINK"}
outside = sorted(p for p in written
                 if p.startswith("/") and not p.startswith(home + "/") and p != key)
print("system calls: %d, socket families: %s, files written: %d"
      % (len(calls), " ".join(sorted(families)), len(written)))
if denied or wrong_family or outside or not written:
    print("outside the sandbox: calls %s, families %s, files %s" % (denied, wrong_family, outside))
    sys.exit(1)
PY
# Grants write to the user UID through the access list of PATH, as setfacl -m u:UID:rwx would
# (the attribute's own bytes: version 2, then tag, permissions and id per entry).
grant_acl_write() {  # PATH UID
  python3 -c 'import os, struct, sys
entry = lambda tag, perm, uid: struct.pack("<HHI", tag, perm, uid)
anyone = 0xFFFFFFFF
acl = struct.pack("<I", 2) + entry(1, 7, anyone) + entry(2, 7, int(sys.argv[2])) \
    + entry(4, 5, anyone) + entry(0x10, 7, anyone) + entry(0x20, 5, anyone)
os.setxattr(sys.argv[1], "system.posix_acl_access", acl)' "$1" "$2"
}
# INSTALL with the program at DIR/tempwarden (a copy) and the data folder DATA: its exit code
# in rc, what it said in out, the unit in UNITS/tempwarden.service.
install_at() {  # UNITS DIR DATA
  mkdir -p "$1"
  set +e
  out=$(TEMPWARDEN_UNIT_DIR="$1" "$2/tempwarden" /install /silent /data "$3" 2>&1); rc=$?
  set -e
}
tw_uid=$(id -u tempwarden)

echo "-- INSTALL checks every folder from the program up to /"
# On a file system of the test's own that keeps access lists (tmpfs).
tree="$WORK/tree"
mkdir -p "$tree"
mount -t tmpfs -o mode=0755 tw-tree "$tree"
at_exit 'umount "$tree" 2>/dev/null || true'
mkdir -p "$tree/acct/bin" "$tree/acl/bin" "$tree/sticky/bin" "$tree/group/bin"
chown tempwarden "$tree/acct"
grant_acl_write "$tree/acl" "$tw_uid"
chmod 1777 "$tree/sticky"
chgrp tempwarden "$tree/group"
chmod 0775 "$tree/group"
while IFS='|' read -r folder expected; do
  cp "$BUILD/tempwarden" "$tree/$folder/bin/tempwarden"
  install_at "$WORK/units-tree" "$tree/$folder/bin" "$WORK/tree-data"
  if [ "$expected" = accepted ]; then
    [ $rc -eq 0 ] || fail "$folder: refused: $out"
    check_unit "$WORK/units-tree/tempwarden.service" >/dev/null
    rm -f "$WORK/units-tree/tempwarden.service" "$WORK/units-tree/VOZIvazure.key"
  else
    [ $rc -ne 0 ] && [[ "$out" == *"The folder \"$tree/$folder\" $expected: the service's account could replace the program that root runs"* ]] \
      || fail "$folder: $rc $out"
    [ ! -e "$WORK/units-tree/tempwarden.service" ] || fail "$folder: a unit was written"
  fi
done <<'CASES'
acct|belongs to "tempwarden"
acl|may be written by the user "tempwarden" (access list)
group|may be written by its group "tempwarden"
sticky|accepted
CASES

echo "-- INSTALL refuses what a unit file cannot carry, and writes no unit then"
while IFS='|' read -r folder data why; do
  folder=$(printf '%b' "$folder")
  data=$(printf '%b' "$data")
  mkdir -p "$WORK/odd/$folder"
  cp "$BUILD/tempwarden" "$WORK/odd/$folder/tempwarden"
  install_at "$WORK/units-odd" "$WORK/odd/$folder" "$WORK/odd/$data"
  [ $rc -ne 0 ] && [[ "$out" == *"$why, which a systemd unit cannot carry"* ]] \
    || fail "$(printf %q "$folder") $(printf %q "$data"): $rc $out"
  [ -z "$(ls -A "$WORK/units-odd")" ] || fail "$(printf %q "$folder"): a unit was written"
  [ ! -e "$WORK/odd/$data" ] || fail "$(printf %q "$data"): the data folder was made"
done <<'CASES'
back\\slash|d1|holds a backslash or a double quote
double"quote|d2|holds a backslash or a double quote
tab\there|d3|holds a control character (such as a line break or a tab)
ok|blank at the end |ends in a blank
ok|escape\033[0m|holds a control character (such as a line break or a tab)
CASES

echo "-- INSTALL /data below /var/lib: StateDirectory= only for its own or a new folder"
# A /var/lib of the test's own; the folders of other programs that it holds.
mount -t tmpfs -o mode=0755 tw-var-lib /var/lib
useradd --system --no-create-home --shell /usr/sbin/nologin tw-other
mkdir -m 0750 /var/lib/other /var/lib/roots /var/lib/open /var/lib/acl "$WORK/real"
chown tw-other: /var/lib/other
echo "the other program's" >/var/lib/other/data
chown tw-other: /var/lib/other/data
chmod 0777 /var/lib/open
grant_acl_write /var/lib/acl "$(id -u tw-other)"
ln -s "$WORK/real" /var/lib/linked
cp "$BUILD/tempwarden" "$WORK/svc/tempwarden"
# data folder | expected StateDirectory= or the refusal | the data folder the unit names
while IFS='|' read -r data expected named; do
  units="$WORK/units-var-lib"
  rm -rf "$units"
  install_at "$units" "$WORK/svc" "$data"
  if [[ "$expected" == "The data directory"* ]]; then
    [ $rc -ne 0 ] && [[ "$out" == *"$expected"* ]] || fail "$data: $rc $out"
    [ ! -e "$units/tempwarden.service" ] || fail "$data: a unit was written"
    continue
  fi
  [ $rc -eq 0 ] || fail "$data: $out"
  unit="$units/tempwarden.service"
  check_unit "$unit" >/dev/null
  [ "$(sed -n 's/^StateDirectory=//p' "$unit")" = "$expected" ] || fail "$data: $(grep -E '^(StateDirectory|ReadWritePaths)=' "$unit")"
  grep -qx "WorkingDirectory=$named" "$unit" && grep -qF -- "-data \"$named\"" "$unit" \
    || fail "$data: the unit names another folder: $(grep -E '^(ExecStart|WorkingDirectory)=' "$unit")"
  [ -n "$expected" ] ||
    grep -qx "ReadWritePaths=$named -$units/VOZIvazure.key -/var/lib/prometheus/node-exporter" \
      "$unit" \
    || fail "$data: $(grep '^ReadWritePaths=' "$unit")"
done <<CASES
/var/lib/tempwarden|tempwarden|/var/lib/tempwarden
/var/lib/new/ups|new/ups|/var/lib/new/ups
/var/lib/roots||/var/lib/roots
/var/lib/linked||$WORK/real
/var/lib/other|The data directory "/var/lib/other" belongs to "tw-other": the service would share it with another program or user|
/var/lib/open|The data directory "/var/lib/open" may be written by every user|
/var/lib/acl|The data directory "/var/lib/acl" may be written by the user "tw-other" (access list)|
CASES
[ "$(stat -c %U "/var/lib/other" "/var/lib/other/data" "/var/lib/roots" "$WORK/real" | sort -u | tr '\n' ' ')" = "root tw-other " ] \
  || fail "an existing folder changed owner: $(stat -c '%n %U' /var/lib/other /var/lib/other/data /var/lib/roots "$WORK/real")"
umount /var/lib
echo "PASS"
