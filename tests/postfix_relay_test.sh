#!/usr/bin/env bash
# "tempwarden /testmail" against Debian's Postfix set up the way company relays are, with
# Debian's Dovecot as its SASL and the tests' OAuth 2.0 endpoint (tests/token_endpoint.py) as
# the provider that both hands out the access token and tells Dovecot whether it is good.
#
# One Postfix instance of the test's own (postfix -c, its queue, data and log under a temp
# dir; every message it takes is put on hold and read back from there), with
# smtpd_helo_required, reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname and
# strict_rfc821_envelopes everywhere, and three ports:
#   25   the LAN relay: anyone in mynetworks may send; AUTH offered on the plain connection
#   587  submission: STARTTLS required (smtpd_tls_security_level encrypt, smtpd_tls_auth_only),
#        AUTH PLAIN only, reject_sender_login_mismatch
#   465  submission over TLS: PLAIN, LOGIN and XOAUTH2 (Dovecot's oauth2 passdb, which asks the
#        endpoint's /introspect about every token), reject_sender_login_mismatch
# Each case of the table below runs /testmail once and checks its result, the lines it prints
# (the relay's reason where it refuses), what the relay kept, and from Postfix's own log that
# the session ended with QUIT ("quit=1" in the disconnect line), or that no session was opened.
# Two names of the private /etc/hosts (tests/private_etc.sh) show the relay's addresses tried in
# order: relay6 has only ::1, relay46 has ::1 (where nothing listens on its port) and then
# 127.0.0.1. The Windows program (build-win) takes the STARTTLS case under Wine (Schannel) when Wine and
# the cross build are there; otherwise that case says it was left out.
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/postfix_relay_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: postfix_relay_test.sh BUILD_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/private_etc.sh
source "$(dirname "$0")/private_etc.sh"
own_etc "$0" "$@"
own_network_namespace "$0" "$@"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
[ "$(id -u)" -eq 0 ] || skip "Postfix's master and Dovecot start as root"
[ -x /usr/lib/postfix/sbin/master ] || skip "postfix is not installed"
command -v dovecot >/dev/null || skip "dovecot-core is not installed"
command -v openssl >/dev/null || skip "openssl is not installed"
for account in postfix dovecot dovenull; do
  getent passwd "$account" >/dev/null || skip "the account $account is missing"
done
getent group postdrop >/dev/null || skip "the group postdrop is missing"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
chmod 755 "$WORK"  # Postfix's and Dovecot's own accounts walk through it
bash "$SOURCE/tests/make_test_certs.sh" "$WORK/certs"
chmod 644 "$WORK"/certs/*

on_fail() {
  echo "--- /testmail said:"
  echo "${OUT:-}"
  echo "--- Postfix's log (last lines):"
  tail -n 30 "$WORK/pf/maillog" 2>/dev/null || true
  echo "--- Dovecot's log (last lines):"
  tail -n 15 "$WORK/dc/dovecot.log" 2>/dev/null || true
}

echo "== the token endpoint"
start_bg /usr/bin/python3 "$SOURCE/tests/token_endpoint.py" --transcript "$WORK/token.txt" \
  --raw /dev/null --tls "$WORK/certs/localhost.pem" "$WORK/certs/localhost.key" \
  --token-user ups.sender >"$WORK/token.out" 2>"$WORK/token.err"
wait_until 10 'grep -q "^READY " "$WORK/token.out"' ||
  fail "token endpoint did not start: $(cat "$WORK/token.err")"
TOKEN_PORT=$(sed -n 's/^READY //p' "$WORK/token.out")

echo "== Dovecot: the SASL of Postfix"
mkdir -p "$WORK/dc/run" "$WORK/dc/state" "$WORK/pf/etc" "$WORK/pf/queue/private" \
  "$WORK/pf/data"
cat >"$WORK/dc/dovecot.conf" <<EOF
base_dir = $WORK/dc/run
state_dir = $WORK/dc/state
log_path = $WORK/dc/dovecot.log
protocols =
listen = 127.0.0.1
ssl = no
default_internal_user = dovecot
default_login_user = dovenull
auth_verbose = yes
auth_mechanisms = plain login xoauth2
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $WORK/dc/users
  mechanisms = plain login
}
passdb {
  driver = oauth2
  args = $WORK/dc/oauth2.conf
  mechanisms = xoauth2
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=/nonexistent
}
service auth {
  unix_listener $WORK/pf/queue/private/auth {
    mode = 0660
    user = postfix
    group = postfix
  }
}
EOF
cat >"$WORK/dc/oauth2.conf" <<EOF
introspection_mode = post
introspection_url = https://localhost:$TOKEN_PORT/introspect
username_attribute = username
active_attribute = active
active_value = true
force_introspection = yes
tls_ca_cert_file = $WORK/certs/ca.pem
EOF
printf '%s\n' 'ups.sender:{PLAIN}Pa55-w0rd' 'boss:{PLAIN}B0ss-w0rd' >"$WORK/dc/users"
start_bg dovecot -F -c "$WORK/dc/dovecot.conf" >"$WORK/dc/stdout" 2>&1
wait_until 10 '[ -S "$WORK/pf/queue/private/auth" ]' ||
  fail "Dovecot did not start: $(cat "$WORK/dc/stdout" "$WORK/dc/dovecot.log" 2>/dev/null)"

echo "== Postfix"
PF=$WORK/pf
cat >"$PF/etc/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $PF/queue
data_directory = $PF/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
meta_directory = /etc/postfix
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
maillog_file = $PF/maillog
maillog_file_prefixes = $PF
myhostname = relay.example.test
mydomain = example.test
mydestination =
alias_maps =
alias_database =
inet_interfaces = 127.0.0.1, [::1]
inet_protocols = all
mynetworks = 127.0.0.0/8, [::1]/128
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname
strict_rfc821_envelopes = yes
smtpd_tls_cert_file = $WORK/certs/localhost.pem
smtpd_tls_key_file = $WORK/certs/localhost.key
smtpd_tls_security_level = may
smtpd_tls_loglevel = 1
smtpd_sasl_type = dovecot
smtpd_sasl_path = private/auth
smtpd_sasl_auth_enable = yes
smtpd_sasl_security_options = noanonymous
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject
smtpd_sender_login_maps = inline:{ tempwarden@example.test=ups.sender, boss@example.test=boss }
# Whatever the relay takes stays in its hold queue, where the test reads it; nothing leaves.
smtpd_end_of_data_restrictions = check_client_access static:HOLD
default_transport = discard:the test relay delivers nowhere
EOF
# The submission ports: only a logged-in client may send, and only as its own address.
submission='-o smtpd_relay_restrictions=permit_sasl_authenticated,reject
  -o smtpd_sender_restrictions=reject_sender_login_mismatch'
cat >"$PF/etc/master.cf" <<EOF
25 inet n - n - - smtpd
  -o smtpd_tls_auth_only=no
127.0.0.1:2525 inet n - n - - smtpd
587 inet n - n - - smtpd
  -o smtpd_tls_security_level=encrypt
  -o smtpd_tls_auth_only=yes
  -o smtpd_sasl_mechanism_filter=plain
  $submission
465 inet n - n - - smtpd
  -o smtpd_tls_wrappermode=yes
  $submission
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
tlsmgr unix - - n 1000? 1 tlsmgr
postlog unix-dgram n - n - 1 postlogd
EOF
chown postfix "$PF/data" "$PF/queue/private"
chmod 700 "$PF/queue/private"
# "postfix check" makes the queue's folders with their owners (its complaints go to syslog,
# which is not there: script gives it a terminal to write them to).
script -qec "postfix -c '$PF/etc' check" /dev/null >"$WORK/pf-check.out" 2>&1 ||
  fail "postfix check: $(cat "$WORK/pf-check.out")"
start_bg /usr/lib/postfix/sbin/master -c "$PF/etc" -d >"$WORK/pf-master.out" 2>&1
listens() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_until 10 'listens 25 && listens 587 && listens 465 && listens 2525' ||
  fail "Postfix did not start: $(cat "$WORK/pf-master.out" "$PF/maillog" 2>/dev/null)"

printf '%s\n' '::1 relay6' '::1 relay46' '127.0.0.1 relay46' >>/etc/hosts

service_copy "$BUILD"
cp "$WORK/certs/ca.pem" "$SVC/relay-ca.pem"

WIN_BUILD=${TW_WIN_BUILD_DIR:-$BUILD/../build-win}
# The Windows program's /testmail under Wine, with the settings and CA file of $SVC beside
# it. Wine and whatever it starts live in a pid namespace of their own that ends with it.
wine_testmail() {
  unshare -p -m --fork --mount-proc --kill-child=SIGTERM -- \
    env -u DISPLAY -u WAYLAND_DISPLAY -u LC_ALL WINEPREFIX="$WORK/wine" WINEARCH=win64 \
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
    TMPDIR="$WORK/wine-tmp" XDG_CACHE_HOME="$WORK/wine-tmp" XDG_CONFIG_HOME="$WORK/wine-tmp" \
    XDG_DATA_HOME="$WORK/wine-tmp" LANG=C.UTF-8 bash -c '
      set -o pipefail
      mkdir -p "$TMPDIR"
      timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || { echo "no Wine"; exit 2; }
      dir=$WINEPREFIX/drive_c/tw
      mkdir -p "$dir" && cp "$0"/tempwarden.exe "$1"/TEMPWARDEN.XML "$1"/relay-ca.pem "$dir"/
      status=0
      timeout 90 wine "C:\tw\tempwarden.exe" /testmail </dev/null 2>/dev/null | tr -d "\r" ||
        status=$?
      wineserver -k 2>/dev/null
      exit "$status"' "$WIN_BUILD" "$SVC"
}

# The cases. host: the host name the program runs under ("-": the machine's; SRV_01 is a
# Windows name, no valid host name, so EHLO must name the address literal; "wine": the
# Windows program under Wine on the machine's name). relay: "SMTPRelay" and "SMTPPort", the
# name localhost when only the port is given. user / secret:
# "SMTPUser" and "SMTPPassword" ("OAuthClientSecret" with xoauth2; the endpoint's is
# Qx8~s3cret+/=); "-" empty. kept: "held" the relay took the message (it is read back),
# "refused" a session without a message, "alert" a session the client ended with a TLS alert
# (no QUIT can follow a failed handshake), "none" no session at all. log: what Postfix's log of
# the session must show (an extended regex, "-" nothing more). out: a line /testmail prints.
CASES=$(
  cat <<'EOF'
name                 |host  |relay        |security|auth   |user      |secret       |from                   |result|kept   |log                                     |out
lan relay, no login  |-     |25           |none    |auto   |-         |-            |tempwarden@example.test|0     |held   |ehlo=1 mail=1 rcpt=2 data=1 quit=1      |^Result 0:
windows host name    |SRV_01|25           |none    |auto   |-         |-            |tempwarden@example.test|0     |held   |helo=<\[(IPv6:::1)?(127\.0\.0\.1)?\]>   |^Result 0:
starttls, PLAIN only |-     |587          |starttls|auto   |ups.sender|Pa55-w0rd    |tempwarden@example.test|0     |held   |sasl_method=PLAIN, sasl_username=ups\.sender|^Result 0:
the same, Schannel   |wine  |587          |starttls|auto   |ups.sender|Pa55-w0rd    |tempwarden@example.test|0     |held   |sasl_method=PLAIN, sasl_username=ups\.sender|^Result 0:
wrong password       |-     |587          |starttls|auto   |ups.sender|wrong        |tempwarden@example.test|-535  |refused|auth=0/1                                |^Relay's reply: 535 5\.7\.8 .*authentication failed
no starttls on 587   |-     |587          |none    |auto   |ups.sender|Pa55-w0rd    |tempwarden@example.test|-530  |refused|mail=0/1                                |^Relay's reply: 530 5\.7\.0 Must issue a STARTTLS command first
sender login mismatch|-     |587          |starttls|auto   |ups.sender|Pa55-w0rd    |boss@example.test      |-699  |refused|Sender address rejected: not owned by user ups\.sender|^Relay's reply: 553 5\.7\.1 <boss@example\.test>: Sender address rejected: not owned by user ups\.sender
name not in the cert |-     |127.0.0.1:587|starttls|auto   |ups.sender|Pa55-w0rd    |tempwarden@example.test|-622  |alert  |TLS library problem: .* alert           |^Result -622:
tls, LOGIN asked for |-     |465          |tls     |login  |ups.sender|Pa55-w0rd    |tempwarden@example.test|0     |held   |sasl_method=LOGIN                       |^Result 0:
xoauth2, good token  |-     |465          |tls     |xoauth2|ups.sender|Qx8~s3cret+/=|tempwarden@example.test|0     |held   |sasl_method=XOAUTH2, sasl_username=ups\.sender|^Result 0:
xoauth2, other user  |-     |465          |tls     |xoauth2|boss      |Qx8~s3cret+/=|boss@example.test      |-535  |refused|auth=0/1                                |^Relay's reply: 535
token endpoint error |-     |465          |tls     |xoauth2|ups.sender|wrong-secret |tempwarden@example.test|-630  |refused|ehlo=1 quit=1 commands=2                |invalid_client.*AADSTS7000215
unknown security word|-     |587          |SSL     |auto   |ups.sender|Pa55-w0rd    |tempwarden@example.test|-623  |none   |-                                       |^Result -623:
no sender address    |-     |25           |none    |auto   |-         |-            |-                      |-640  |none   |-                                       |^Result -640:
ipv6 only            |-     |relay6:25    |none    |auto   |-         |-            |tempwarden@example.test|0     |held   |helo=<\[IPv6:::1\]>                     |^Result 0:
first address dead   |-     |relay46:2525 |none    |auto   |-         |-            |tempwarden@example.test|0     |held   |connect from localhost\[127\.0\.0\.1\]  |Not connected to .*::1
EOF
)

trim() { local s=$1; s=${s#"${s%%[! ]*}"}; printf '%s' "${s%"${s##*[! ]}"}"; }
dash() { if [ "$1" = - ]; then printf ''; else printf '%s' "$1"; fi; }
log_lines() { wc -l <"$PF/maillog"; }
# The relay's log since the case began; the disconnect line comes when the client has gone.
session() { tail -n +"$((before + 1))" "$PF/maillog"; }
hold_ids() { find "$PF/queue/hold" -type f -printf '%f\n' 2>/dev/null | sort; }

checked=0
while IFS='|' read -r name host relay security auth user secret from result kept log out; do
  name=$(trim "$name")
  [ "$name" != name ] || continue
  host=$(trim "$host") relay=$(trim "$relay") security=$(trim "$security") auth=$(trim "$auth")
  user=$(dash "$(trim "$user")") secret=$(dash "$(trim "$secret")")
  from=$(dash "$(trim "$from")") result=$(trim "$result") kept=$(trim "$kept")
  log=$(trim "$log") out=$(trim "$out")
  port=${relay##*:} server=${relay%:*}
  [ "$server" != "$relay" ] || server=localhost
  echo "== $name ($server:$port, $security, $auth)"
  if [ "$host" = wine ] &&
    { ! command -v wine >/dev/null || [ ! -f "$WIN_BUILD/tempwarden.exe" ]; }; then
    echo "   left out: no Wine, or no Windows build in $WIN_BUILD"
    continue
  fi

  password=$secret oauth_secret=''
  if [ "$auth" = xoauth2 ]; then password='' oauth_secret=$secret; fi
  write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SysLogTrap=7 \
    EmailToAddr="ops@example.test; facilities@example.test" SMTPRelay="$server" \
    SMTPPort="$port" EmailFromAddr="$from" SMTPSecurity="$security" SMTPAuth="$auth" \
    SMTPUser="$user" SMTPPassword="$password" SMTPCAFile=relay-ca.pem \
    OAuthTokenURL="https://localhost:$TOKEN_PORT/token" OAuthClientID=app-1 \
    OAuthClientSecret="$oauth_secret"

  before=$(log_lines)
  held_before=$(hold_ids)
  run=(timeout 90 env LC_ALL=C "$SVC/tempwarden" /testmail)
  if [ "$host" = wine ]; then
    run=(wine_testmail)
  elif [ "$host" != - ]; then
    # sethostname takes what hostname(1) refuses (a Windows name with "_").
    run=(unshare -u -- sh -c 'echo "$0" >/proc/sys/kernel/hostname && exec "$@"' "$host"
      "${run[@]}")
  fi
  STATUS=0
  OUT=$(cd / && "${run[@]}" 2>&1) || STATUS=$?
  echo "$OUT" | grep -E '^(Result|Relay|Advice)|SMTP\.TLS=|AUTH|Not connected' | sed 's/^/   /' || true
  grep -qE "^Result $result: " <<<"$OUT" || fail "$name: result $result wanted"
  grep -qE -- "$out" <<<"$OUT" || fail "$name: no line /$out/ in the output"
  if [ "$result" = 0 ]; then want_status=0; else want_status=1; fi
  [ "$STATUS" -eq "$want_status" ] || fail "$name: exit status $STATUS, $want_status wanted"
  if [ -n "$secret" ] && grep -qF -- "$secret" <<<"$OUT"; then
    fail "$name: the secret is shown"
  fi

  if [ "$kept" = none ]; then
    sleep 0.3  # a connection would be logged at once; none may come
    ! session | grep -q ' connect from ' || fail "$name: the relay was contacted"
  else
    wait_until 10 'session | grep -q " disconnect from "' || fail "$name: no session end"
    disconnect=$(session | grep ' disconnect from ')
    echo "   relay: ${disconnect#*: }"
    if [ "$kept" = alert ]; then
      session | grep -m1 -o 'TLS library problem: .*' | sed 's/^/   relay: /'
    else
      grep -q ' quit=1 ' <<<"$disconnect" || fail "$name: the session did not end with QUIT"
    fi
    [ "$log" = - ] || session | grep -qE -- "$log" || fail "$name: no /$log/ in Postfix's log"
    new=$(comm -13 <(echo "$held_before") <(hold_ids))
    if [ "$kept" = held ]; then
      if [ -z "$new" ] || [ "$(wc -l <<<"$new")" -ne 1 ]; then
        fail "$name: not one message held"
      fi
      msg=$(postcat -c "$PF/etc" -q "$new" 2>&1)
      for re in "^sender: $from\$" '^recipient: ops@example\.test$' \
        '^recipient: facilities@example\.test$' "^From: .*<?$from>?\$" \
        '^To: ops@example\.test, facilities@example\.test$' '^Message-ID: <[^@ ]+@[^> ]+>$' \
        '^Subject: APC UPS: test mail$'; do
        grep -qE -- "$re" <<<"$msg" || fail "$name: the held message lacks /$re/:"$'\n'"$msg"
      done
    else
      [ -z "$new" ] || fail "$name: the relay kept a message"
    fi
  fi
  checked=$((checked + 1))
done <<<"$CASES"

# Dovecot asked the endpoint about the tokens it was given (the good one and the one for
# another account), so the XOAUTH2 cases were decided by a server that checks the token.
[ "$(grep -c '^POST /introspect$' "$WORK/token.txt")" -ge 2 ] ||
  fail "Dovecot did not ask the endpoint about the tokens: $(cat "$WORK/token.txt")"
echo "PASS: $checked cases"
