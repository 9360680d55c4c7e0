#!/usr/bin/env bash
# The secrets out of the settings file, on a booted system (tests/nspawn_lib.sh: systemd as
# PID 1 in a container of the test's own, no network but its loopback), with the .deb that
# CPack builds, Debian's snmpd as the UPS card and Debian's Postfix, with Dovecot as its SASL,
# as the relay that wants a login (two accounts, one per instance; what it takes is held in its
# queue and read back there).
#   - The package's service starts without any stored secret (no drop-in); a
#     LoadCredentialEncrypted= line whose file is missing fails the start on this systemd,
#     which is why /protect writes the drop-in only with the credential.
#   - A password in clear works and the start names it (50210).
#   - /protect SMTPPassword (secret on standard input): a credential in /etc/credstore.encrypted
#     sealed with the host key, the drop-in, the clear value out of the conffile and the rest of
#     the file byte for byte; restart; the alarm mail delivered with AUTH by the relay's account;
#     /testmail as root takes the stored credential too.
#   - A named instance with its own credential and its own account; --remove takes it away and
#     the instance still starts; an empty secret is refused; a purge deletes the credentials
#     and their drop-ins (an administrator's own drop-in stays).
#   - The secret's bytes are in no file the container wrote (the overlay's upper layer: the
#     package, the service, systemd), not in the journal and not in what the commands printed;
#     only in the relay's own account file, which the test wrote.
# Skipped with one line where the machine cannot boot a container.
# usage: bash tests/credentials_boot_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: credentials_boot_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"
# shellcheck source=tests/nspawn_lib.sh
source "$HERE/nspawn_lib.sh"
for tool in systemd-nspawn nsenter unshare cpack systemd-creds; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ -x /usr/sbin/snmpd ] || skip "snmpd is missing"
[ -x /usr/lib/postfix/sbin/master ] || skip "postfix is not installed"
command -v dovecot >/dev/null || skip "dovecot-core is not installed"
[ -x /lib/systemd/systemd ] || skip "no systemd to boot"
[ -f "$BUILD/CPackConfig.cmake" ] || skip "no CPack configuration in $BUILD"
[ "$(id -u)" -eq 0 ] || skip "booting a container needs root"
if [ "${TW_CREDS_MOUNTS_OF:-}" != "$0" ]; then
  exec env TW_CREDS_MOUNTS_OF="$0" unshare -m --propagation private -- bash "$0" "$@"
fi
own_network_namespace "$0" "$@"
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR

WORK=$(mktemp -d)
at_exit 'rm -rf --one-file-system "$WORK"'
SECRET='Cr3d-Pa55!word'
LAB_SECRET='L4b-Only-Pass'
on_fail() {
  echo "--- last command output"
  cat "$WORK/out" 2>/dev/null || true
  echo "--- Postfix's log (last lines)"
  tail -n 20 "$ROOT/tw-relay/pf/maillog" 2>/dev/null || true
  echo "--- journal of the container (last lines)"
  [ -z "${LEADER:-}" ] || in_box journalctl --no-pager -n 40 2>/dev/null || true
}

echo "-- the container"
boot_container

echo "-- the package"
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/dist" >"$WORK/cpack.out" 2>&1 \
  || fail "cpack: $(cat "$WORK/cpack.out")"
mkdir -p "$ROOT/tw-test/agent"
cp "$WORK"/dist/tempwarden_*.deb "$ROOT/tw-test/tempwarden.deb"

echo "-- Debian's snmpd as the UPS card (27 degrees), on the container's 127.0.0.1"
cp "$HERE/ups_pass_persist.sh" "$ROOT/tw-test/agent/agent.sh"
chmod 700 "$ROOT/tw-test/agent/agent.sh"
echo 27 >"$ROOT/tw-test/agent/temperature"
echo 230 >"$ROOT/tw-test/agent/voltage"
printf '%s\n' 'agentAddress udp:127.0.0.1:161' 'rocommunity public 127.0.0.1' \
  'pass_persist .1.3.6.1.4.1.318.1.1.1 /tw-test/agent/agent.sh' >"$ROOT/tw-test/agent/snmpd.conf"
in_box systemd-run --quiet --unit=tw-ups --setenv=MIBS= \
  /usr/sbin/snmpd -f -C -c /tw-test/agent/snmpd.conf -I -smux -Lf /tw-test/agent/snmpd.log \
  || fail "snmpd in the container"

echo "-- Postfix with Dovecot's SASL: AUTH required, two accounts"
R=/tw-relay
mkdir -p "$ROOT$R/dc/run" "$ROOT$R/dc/state" "$ROOT$R/pf/etc" "$ROOT$R/pf/queue/private" \
  "$ROOT$R/pf/data"
chmod 755 "$ROOT$R"
cat >"$ROOT$R/dc/dovecot.conf" <<CONF
base_dir = $R/dc/run
state_dir = $R/dc/state
log_path = $R/dc/dovecot.log
protocols =
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
default_internal_user = dovecot
default_login_user = dovenull
auth_mechanisms = plain login
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $R/dc/users
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=/nonexistent
}
service auth {
  unix_listener $R/pf/queue/private/auth {
    mode = 0660
    user = postfix
    group = postfix
  }
}
CONF
printf '%s\n' "ups.sender:{PLAIN}$SECRET" "lab.sender:{PLAIN}$LAB_SECRET" >"$ROOT$R/dc/users"
cat >"$ROOT$R/pf/etc/main.cf" <<CONF
compatibility_level = 3.6
queue_directory = $R/pf/queue
data_directory = $R/pf/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
meta_directory = /etc/postfix
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
maillog_file = $R/pf/maillog
maillog_file_prefixes = $R/pf
myhostname = relay.example.test
mydestination =
alias_maps =
alias_database =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks =
smtpd_tls_security_level = none
smtpd_tls_auth_only = no
smtpd_sasl_type = dovecot
smtpd_sasl_path = private/auth
smtpd_sasl_auth_enable = yes
smtpd_sasl_security_options = noanonymous
smtpd_relay_restrictions = permit_sasl_authenticated, reject
smtpd_end_of_data_restrictions = check_client_access static:HOLD
default_transport = discard:the test relay delivers nowhere
CONF
cat >"$ROOT$R/pf/etc/master.cf" <<CONF
25 inet n - n - - smtpd
pickup unix n - n 60 1 pickup
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
proxymap unix - - n - - proxymap
discard unix - - n - - discard
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
CONF
in_box chown postfix "$R/pf/data" "$R/pf/queue/private"
in_box chmod 700 "$R/pf/queue/private"
in_box systemd-run --quiet --unit=tw-dovecot dovecot -F -c "$R/dc/dovecot.conf" \
  || fail "dovecot in the container"
wait_until 10 '[ -S "$ROOT$R/pf/queue/private/auth" ]' \
  || fail "Dovecot did not start: $(cat "$ROOT$R/dc/dovecot.log" 2>/dev/null)"
in_box script -qec "postfix -c $R/pf/etc check" /dev/null >"$WORK/out" 2>&1 \
  || fail "postfix check"
in_box systemd-run --quiet --unit=tw-postfix /usr/lib/postfix/sbin/master -c "$R/pf/etc" -d \
  || fail "postfix in the container"
wait_until 10 'in_box grep -q " 0100007F:0019 " /proc/net/tcp' || fail "Postfix does not listen"

# The mails the relay took from `account` so far (its log names the SASL login of each).
taken() { grep -c "sasl_username=$1\$" "$ROOT$R/pf/maillog" 2>/dev/null || true; }
# The alarm of a restarted instance: one more mail taken from `account`.
expect_mail() {  # ACCOUNT COUNT_BEFORE WHAT
  # shellcheck disable=SC2034 # read by the condition wait_until evaluates
  ACCOUNT=$1 BEFORE=$2
  wait_until 30 '[ "$(taken "$ACCOUNT")" -gt "$BEFORE" ]' \
    || fail "$3: no mail taken from $1: $(tail -n 5 "$ROOT$R/pf/maillog")"
  echo "$3: the relay took a mail from $1"
}

echo "-- the package installed, no secret stored: the service starts"
in_box dpkg --force-confold -i /tw-test/tempwarden.deb </dev/null >"$WORK/out" 2>&1 \
  || fail "dpkg -i"
wait_until 30 '[ "$(prop tempwarden.service ActiveState)" = active ]' \
  || fail "not active: $(in_box systemctl status --no-pager tempwarden.service)"
[ ! -e "$ROOT/etc/systemd/system/tempwarden.service.d" ] || fail "a drop-in before /protect"
[[ "$(prop tempwarden.service DropInPaths)" != *credentials* ]] || fail "credentials without /protect"

echo "-- this systemd: a LoadCredentialEncrypted= line whose file is missing fails the start"
mkdir -p "$ROOT/etc/systemd/system/tempwarden.service.d"
printf '[Service]\nLoadCredentialEncrypted=smtp-password:/etc/credstore.encrypted/tempwarden.smtp-password\n' \
  >"$ROOT/etc/systemd/system/tempwarden.service.d/missing.conf"
in_box systemctl daemon-reload
in_box systemctl restart tempwarden.service 2>/dev/null && fail "started with a missing credential"
echo "missing credential file: $(prop tempwarden.service Result), status $(prop tempwarden.service ExecMainStatus)"
rm -r "$ROOT/etc/systemd/system/tempwarden.service.d"
in_box systemctl daemon-reload
in_box systemctl reset-failed tempwarden.service
# The test's short intervals from here on (an administrator's drop-in of its own beside the
# one /protect writes).
mkdir -p "$ROOT/etc/systemd/system/tempwarden.service.d"
printf '[Service]\nRestartSec=1\n' >"$ROOT/etc/systemd/system/tempwarden.service.d/test.conf"
in_box systemctl daemon-reload

echo "-- the password in clear: delivered, and the start names it"
CONF=/etc/tempwarden/TEMPWARDEN.XML
mail_settings() {  # FILE ACCOUNT [SMTPPassword=...]
  local file=$1 account=$2
  shift 2
  write_settings "$file" '<!-- the relay wants a login -->' UPSHost=127.0.0.1 \
    SNMPCommunity=public SysLogTrap=7 TempSleep=2 VoltageSleep=1 AlarmTemp=20 \
    EmailToAddr=ops@example.test EmailFromAddr=tempwarden@example.test SMTPRelay=127.0.0.1 \
    SMTPUser="$account" "$@" GUID=after-the-password
}
mail_settings "$ROOT$CONF" ups.sender SMTPPassword="$SECRET"
before=$(taken ups.sender)
in_box systemctl restart tempwarden.service || fail "restart with the clear password"
expect_mail ups.sender "$before" "clear password"
grep -q ',50210,"\[Function=toolbelt.ReadConfig\]\[Msg=Secrets in clear in the settings file\]\[Keys=SMTPPassword\]' \
  "$ROOT/var/lib/tempwarden/APC-$(date +%Y%m%d).CSV" || fail "the start does not name the clear password"

echo "-- /protect SMTPPassword: a credential, the drop-in, the clear value out of the conffile"
expected=$(sed "s|<SMTPPassword>$SECRET</SMTPPassword>|<SMTPPassword></SMTPPassword>|" "$ROOT$CONF")
printf '%s\n' "$SECRET" | in_box env TEMPWARDEN_CREDS_KEY=host tempwarden /protect smtppassword \
  /config "$CONF" >"$WORK/protect.out" 2>&1 || fail "/protect: $(cat "$WORK/protect.out")"
cat "$WORK/protect.out"
grep -q "^SMTPPassword stored in /etc/credstore.encrypted/tempwarden.smtp-password (loaded by /etc/systemd/system/tempwarden.service.d/tempwarden-credentials.conf)" \
  "$WORK/protect.out" || fail "where it went: $(cat "$WORK/protect.out")"
[ "$(cat "$ROOT$CONF")" = "$expected" ] || fail "the conffile changed beyond the password: $(cat "$ROOT$CONF")"
[ "$(in_box stat -c %U:%G:%a "$CONF")" = root:tempwarden:640 ] || fail "the conffile's owner or mode"
[ "$(in_box stat -c %a /etc/credstore.encrypted/tempwarden.smtp-password)" = 600 ] \
  || fail "the credential's mode"
[[ "$(prop tempwarden.service DropInPaths)" == *tempwarden.service.d/tempwarden-credentials.conf* ]] ||
  fail "the unit has not the drop-in: $(prop tempwarden.service DropInPaths)"
before=$(taken ups.sender)
in_box systemctl restart tempwarden.service || fail "restart with the credential"
expect_mail ups.sender "$before" "stored credential"
before=$(taken ups.sender)
in_box tempwarden /testmail /config "$CONF" >"$WORK/testmail.out" 2>&1 \
  || fail "/testmail as root: $(cat "$WORK/testmail.out")"
expect_mail ups.sender "$before" "/testmail as root"

echo "-- a named instance with its own credential and account"
mkdir -p "$ROOT/etc/tempwarden/lab"
mail_settings "$ROOT/etc/tempwarden/lab/TEMPWARDEN.XML" lab.sender
in_box chown -R root:tempwarden /etc/tempwarden/lab
in_box chmod 0750 /etc/tempwarden/lab
in_box chmod 0640 /etc/tempwarden/lab/TEMPWARDEN.XML
printf '%s\n' "$LAB_SECRET" | in_box env TEMPWARDEN_CREDS_KEY=host tempwarden /protect SMTPPassword \
  /instance lab /config /etc/tempwarden/lab/TEMPWARDEN.XML >"$WORK/protect-lab.out" 2>&1 \
  || fail "/protect for lab: $(cat "$WORK/protect-lab.out")"
grep -q "stored in /etc/credstore.encrypted/tempwarden-lab.smtp-password (loaded by /etc/systemd/system/tempwarden@lab.service.d/tempwarden-credentials.conf)" \
  "$WORK/protect-lab.out" || fail "lab: where it went: $(cat "$WORK/protect-lab.out")"
before=$(taken lab.sender)
in_box systemctl start tempwarden@lab.service || fail "starting tempwarden@lab"
expect_mail lab.sender "$before" "named instance"
in_box tempwarden /protect SMTPPassword /remove /instance lab \
  /config /etc/tempwarden/lab/TEMPWARDEN.XML >"$WORK/remove.out" 2>&1 || fail "--remove"
[ ! -e "$ROOT/etc/credstore.encrypted/tempwarden-lab.smtp-password" ] || fail "lab's credential stays"
[ ! -e "$ROOT/etc/systemd/system/tempwarden@lab.service.d" ] || fail "lab's drop-in stays"
[ -e "$ROOT/etc/credstore.encrypted/tempwarden.smtp-password" ] || fail "--remove for lab took the unnamed one's"
in_box systemctl restart tempwarden@lab.service || fail "lab without a stored secret does not start"
[ "$(prop tempwarden@lab.service ActiveState)" = active ] || fail "lab not active after --remove"

echo "-- a purge takes the stored secrets and their drop-ins with the settings"
in_box tempwarden /protect SMTPPassword /config /etc/tempwarden/lab/TEMPWARDEN.XML /instance lab \
  </dev/null >"$WORK/out" 2>&1 && fail "/protect stored an empty secret"
printf '%s\n' "$LAB_SECRET" | in_box env TEMPWARDEN_CREDS_KEY=host tempwarden /protect SMTPPassword \
  /instance lab /config /etc/tempwarden/lab/TEMPWARDEN.XML >"$WORK/protect-lab2.out" 2>&1 \
  || fail "/protect for lab again: $(cat "$WORK/protect-lab2.out")"
in_box systemctl stop tempwarden@lab.service
in_box dpkg --purge tempwarden </dev/null >"$WORK/out" 2>&1 || fail "dpkg --purge"
left=$(in_box sh -c 'ls -d /etc/credstore.encrypted/tempwarden* /etc/systemd/system/tempwarden*.service.d/tempwarden-credentials.conf 2>/dev/null' || true)
[ -z "$left" ] || fail "left after the purge: $left"
[ -e "$ROOT/etc/systemd/system/tempwarden.service.d/test.conf" ] || fail "the purge took the administrator's drop-in"

echo "-- the secret is nowhere but in the relay's own account file"
in_box journalctl --no-pager -o export >"$WORK/journal" 2>/dev/null || true
for secret in "$SECRET" "$LAB_SECRET"; do
  hits=$(grep -rlaF --exclude-dir=tw-relay -- "$secret" "$UPPER" "$WORK/journal" \
    "$WORK"/protect*.out "$WORK/testmail.out" "$WORK/remove.out" || true)
  [ -z "$hits" ] || fail "the secret is in: $hits"
done
echo "checked $(find "$UPPER" -path "$UPPER$R" -prune -o -type f -print | wc -l) files, the journal and the commands' output"
echo "PASS"
