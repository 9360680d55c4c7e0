#!/usr/bin/env bash
# "tempwarden /testmail" against Debian's Exim as a LAN relay on port 25 and as submission on
# 587 (STARTTLS through Exim's GnuTLS, AUTH PLAIN and LOGIN offered only inside TLS), with the
# checks its Debian configuration makes: the EHLO argument must be a valid name or address
# literal (a Windows name with "_" gets 501), every recipient is verified ("550 Unrouteable
# address"), and the DATA ACL refuses a message whose headers fail "verify = header_syntax"
# (a To of addresses separated by ";"). Each case of the table below checks the result, the lines
# /testmail prints (the relay's reason where it refuses), the message Exim queued, and from
# Exim's log that the session ended with QUIT.
#
# Exim's package conflicts with postfix (both are the machine's MTA), so it is not installed:
# test.sh unpacks Debian's exim4-daemon-light and exim4-base into BUILD_DIR/exim, and the
# binary runs from there with a configuration of the test's own. Its account Debian-exim,
# compiled in, is made in a private copy of /etc (tests/private_etc.sh). Exim queues what it
# takes and never delivers it (queue_only, no queue runner).
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/exim_relay_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: exim_relay_test.sh BUILD_DIR}" && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/private_etc.sh
source "$(dirname "$0")/private_etc.sh"
own_etc "$0" "$@"
own_network_namespace "$0" "$@"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
ROOT=$BUILD/exim
EXIM=$ROOT/usr/sbin/exim4
[ -x "$EXIM" ] || skip "Debian's Exim is not unpacked in $ROOT (test.sh does it:" \
  "apt-get download exim4-daemon-light exim4-base, dpkg-deb -x)"
# Libraries unpacked beside it are found there; the others are the machine's.
export LD_LIBRARY_PATH=$ROOT/usr/lib/x86_64-linux-gnu
getent passwd Debian-exim >/dev/null ||
  useradd --system --user-group --no-create-home --shell /usr/sbin/nologin Debian-exim

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
chmod 755 "$WORK"
mkdir "$WORK/spool" "$WORK/log"
bash "$(dirname "$0")/make_test_certs.sh" "$WORK/certs"
chmod 755 "$WORK/certs"
chmod 644 "$WORK"/certs/*
chown Debian-exim:Debian-exim "$WORK/spool" "$WORK/log"

on_fail() {
  echo "--- /testmail said:"
  echo "${OUT:-}"
  echo "--- Exim's log (last lines):"
  tail -n 20 "$WORK/log/mainlog" 2>/dev/null || true
}

cat >"$WORK/exim.conf" <<EOF
exim_path = $EXIM
primary_hostname = exim.example.test
spool_directory = $WORK/spool
log_file_path = $WORK/log/%slog
log_selector = +smtp_connection +smtp_protocol_error +smtp_syntax_error
keep_environment = LD_LIBRARY_PATH
local_interfaces = 127.0.0.1
daemon_smtp_ports = 25 : 587
queue_only = true
tls_advertise_hosts = *
tls_certificate = $WORK/certs/localhost.pem
tls_privatekey = $WORK/certs/localhost.key
auth_advertise_hosts = \${if eq{\$tls_in_cipher}{}{}{*}}
domainlist local_domains = example.test
hostlist relay_from_hosts = 127.0.0.1
acl_smtp_rcpt = acl_check_rcpt
acl_smtp_data = acl_check_data

begin acl
acl_check_rcpt:
  require verify = recipient
  deny condition = \${if eq{\$received_port}{587}}
       !authenticated = *
       message = authentication required
  accept hosts = +relay_from_hosts
  deny message = relay not permitted

# As Debian's configuration has it with CHECK_DATA_VERIFY_HEADER_SYNTAX.
acl_check_data:
  deny message = Message headers fail syntax check
       !verify = header_syntax
  accept

begin routers
mailboxes:
  driver = accept
  domains = +local_domains
  local_parts = ops : facilities
  transport = nowhere

begin transports
nowhere:
  driver = appendfile
  file = /dev/null

begin authenticators
plain_server:
  driver = plaintext
  public_name = PLAIN
  server_condition = \${if and {{eq{\$auth2}{ups.sender}}{eq{\$auth3}{Pa55-w0rd}}}}
  server_set_id = \$auth2
login_server:
  driver = plaintext
  public_name = LOGIN
  server_prompts = Username:: : Password::
  server_condition = \${if and {{eq{\$auth1}{ups.sender}}{eq{\$auth2}{Pa55-w0rd}}}}
  server_set_id = \$auth1
EOF
"$EXIM" -C "$WORK/exim.conf" -bV >"$WORK/exim-bV.out" 2>&1 ||
  skip "the unpacked Exim does not run here: $(head -3 "$WORK/exim-bV.out")"
start_bg "$EXIM" -C "$WORK/exim.conf" -bdf >"$WORK/exim.out" 2>&1
listens() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_until 10 'listens 25 && listens 587' || fail "Exim did not start: $(cat "$WORK/exim.out")"

# The checks the cases rely on are live: a Windows name in EHLO and the To of the addresses
# as typed are refused.
echo "== Exim refuses EHLO SRV_01 and a To of addresses separated by \";\""
/usr/bin/python3 - >"$WORK/control.out" 2>&1 <<'PY' || fail "control: $(cat "$WORK/control.out")"
import smtplib
with smtplib.SMTP("127.0.0.1", 25, local_hostname="SRV_01", timeout=20) as s:
    code, text = s.ehlo()
    print(code, text.decode())
with smtplib.SMTP("127.0.0.1", 25, local_hostname="[127.0.0.1]", timeout=20) as s:
    try:
        s.sendmail("tempwarden@example.test", ["ops@example.test"],
                   "From: tempwarden@example.test\r\n"
                   "To: ops@example.test; facilities@example.test\r\n\r\nbody\r\n")
    except smtplib.SMTPDataError as e:
        print(e.smtp_code, e.smtp_error.decode())
PY
grep -qx '501 Syntactically invalid EHLO argument(s)' "$WORK/control.out" ||
  fail "Exim took EHLO SRV_01: $(cat "$WORK/control.out")"
grep -qx '550 Message headers fail syntax check' "$WORK/control.out" ||
  fail "Exim took a To separated by \";\": $(cat "$WORK/control.out")"
sed 's/^/   /' "$WORK/control.out"

service_copy "$BUILD"
cp "$WORK/certs/ca.pem" "$SVC/relay-ca.pem"

# The cases. host: the host name the program runs under ("-": the machine's; SRV_01 is a
# Windows name, no valid host name). port / security: "SMTPPort" / "SMTPSecurity"; password:
# "SMTPPassword" of the account ups.sender ("-" no account); auth: "SMTPAuth". to / cc:
# "EmailToAddr" / "EmailCCAddr" as a user types them ("-" empty). queued: the To and Cc
# headers of the message Exim queued, or "-" none. log: what Exim's log of the session must
# show ("-" nothing more). out: a line /testmail prints.
CASES=$(
  cat <<'EOF'
name               |host  |port|security|password |auth |to                                       |cc                     |result|queued                                          |log                           |out
two recipients, ";"|-     |25  |none    |-        |auto |ops@example.test; facilities@example.test|-                      |0     |To: ops@example.test, facilities@example.test   |-                             |^Result 0:
to and cc          |SRV_01|25  |none    |-        |auto |ops@example.test                         |facilities@example.test|0     |To: ops@example.test;Cc: facilities@example.test|-                             |^Result 0:
unknown recipient  |-     |25  |none    |-        |auto |nobody@example.test                      |-                      |-550  |-                                               |rejected RCPT <nobody@        |^Relay's reply: 550 Unrouteable address$
starttls, PLAIN    |-     |587 |starttls|Pa55-w0rd|auto |ops@example.test                         |-                      |0     |To: ops@example.test                            |A=plain_server:ups\.sender    |^Result 0:
starttls, LOGIN    |-     |587 |starttls|Pa55-w0rd|login|ops@example.test                         |-                      |0     |To: ops@example.test                            |A=login_server:ups\.sender    |^Result 0:
wrong password     |-     |587 |starttls|wrong    |auto |ops@example.test                         |-                      |-535  |-                                               |authenticator failed          |^Relay's reply: 535 Incorrect authentication data$
no login on 587    |-     |587 |starttls|-        |auto |ops@example.test                         |-                      |-550  |-                                               |authentication required       |^Relay's reply: 550 authentication required$
EOF
)

trim() { local s=$1; s=${s#"${s%%[! ]*}"}; printf '%s' "${s%"${s##*[! ]}"}"; }
dash() { if [ "$1" = - ]; then printf ''; else printf '%s' "$1"; fi; }
session() { tail -n +"$((before + 1))" "$WORK/log/mainlog"; }
queued() { { find "$WORK/spool/input" -name '*-H' -printf '%f\n' 2>/dev/null || true; } | sort; }

checked=0
while IFS='|' read -r name host port security password auth to cc result want log out; do
  name=$(trim "$name")
  [ "$name" != name ] || continue
  host=$(trim "$host") port=$(trim "$port") security=$(trim "$security")
  password=$(dash "$(trim "$password")") auth=$(trim "$auth")
  to=$(dash "$(trim "$to")") cc=$(dash "$(trim "$cc")")
  result=$(trim "$result") want=$(trim "$want") log=$(trim "$log") out=$(trim "$out")
  user=''
  [ -z "$password" ] || user=ups.sender
  echo "== $name (port $port, $security, $auth)"
  write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SysLogTrap=7 EmailToAddr="$to" \
    EmailCCAddr="$cc" SMTPRelay=localhost SMTPPort="$port" SMTPSecurity="$security" \
    SMTPAuth="$auth" SMTPUser="$user" SMTPPassword="$password" SMTPCAFile=relay-ca.pem \
    EmailFromAddr=tempwarden@example.test

  before=$(wc -l <"$WORK/log/mainlog")
  queued_before=$(queued)
  run=(timeout 90 env LC_ALL=C "$SVC/tempwarden" /testmail)
  if [ "$host" != - ]; then
    # sethostname takes what hostname(1) refuses (a Windows name with "_").
    run=(unshare -u -- sh -c 'echo "$0" >/proc/sys/kernel/hostname && exec "$@"' "$host"
      "${run[@]}")
  fi
  OUT=$(cd / && "${run[@]}" 2>&1) || true
  echo "$OUT" | grep -E '^(Result|Relay|Advice)|SMTP\.TLS=' | sed 's/^/   /' || true
  grep -qE "^Result $result: " <<<"$OUT" || fail "$name: result $result wanted"
  grep -qE -- "$out" <<<"$OUT" || fail "$name: no line /$out/ in the output"

  wait_until 10 'session | grep -qE "SMTP connection from .* (closed|lost)"' ||
    fail "$name: no session end in Exim's log"
  session | grep -q 'SMTP connection from .* closed by QUIT' ||
    fail "$name: the session did not end with QUIT"
  session | grep -E ' rejected |<= |authenticator failed' | sed 's/^/   exim: /' || true
  [ "$log" = - ] || session | grep -qE -- "$log" || fail "$name: no /$log/ in Exim's log"
  new=$(comm -13 <(echo "$queued_before") <(queued))
  if [ "$want" = - ]; then
    [ -z "$new" ] || fail "$name: Exim queued a message"
  else
    if [ -z "$new" ] || [ "$(wc -l <<<"$new")" -ne 1 ]; then
      fail "$name: not one message queued"
    fi
    # The spool's header file: each header behind a length and a flag (T for To, C for Cc).
    headers=$(sed -E 's/^[0-9]{3}[A-Z* ] //' "$WORK/spool/input/$new")
    IFS=';' read -ra wanted <<<"$want"
    for line in "${wanted[@]}" 'Message-ID: <' 'From: '; do
      grep -qF -- "$line" <<<"$headers" || fail "$name: no \"$line\" in:"$'\n'"$headers"
    done
  fi
  checked=$((checked + 1))
done <<<"$CASES"
echo "PASS: $checked cases"
