#!/usr/bin/env bash
# The test mail and the high-temperature alarm as a spam filter sees them: both messages, as
# the real program hands them to the tests' aiosmtpd relay, go through Debian's SpamAssassin
# with local tests only (no network, no DNS lists) and must score below 1.0. The rules that hit
# are printed, so that a change that adds one shows at once.
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/spam_score_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: spam_score_test.sh BUILD_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
command -v spamassassin >/dev/null || skip "spamassassin is not installed"
[ -x /usr/sbin/snmpd ] || skip "snmpd is not installed"
/usr/bin/python3 -c "import aiosmtpd" 2>/dev/null || skip "python3-aiosmtpd is not installed"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

echo 27 >"$WORK/temperature"
echo 231 >"$WORK/voltage"
start_snmpd "$WORK" || fail "snmpd did not start"
start_bg /usr/bin/python3 "$SOURCE/tests/smtp_server.py" --transcript "$WORK/mail.txt" \
  --raw "$WORK/mail.raw" >"$WORK/relay.out" 2>"$WORK/relay.err"
wait_until 10 'grep -q "^READY " "$WORK/relay.out"' ||
  fail "SMTP relay did not start: $(cat "$WORK/relay.err")"
SMTP_PORT=$(sed -n 's/^READY //p' "$WORK/relay.out")

service_copy "$BUILD"
# The alarm level below the agent's 27 degrees: the first temperature pass sends the alarm.
write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
  AlarmTemp=25 EmailToAddr="ops@example.test; facilities@example.test" \
  SMTPRelay=127.0.0.1 SMTPPort="$SMTP_PORT" EmailFromAddr=tempwarden@example.test

(cd / && LC_ALL=C "$SVC/tempwarden" /testmail >"$WORK/testmail.out" 2>&1) ||
  fail "the test mail was not delivered: $(cat "$WORK/testmail.out")"
(cd "$SVC" && LC_ALL=C exec ./tempwarden -console >"$WORK/service.out" 2>&1) &
SERVICE=$!
track_pid "$SERVICE"
wait_until 30 'grep -q "^C: Subject: APC UPS: High Temp Alarm!" "$WORK/mail.txt" &&
  [ "$(grep -c "^C: QUIT" "$WORK/mail.txt")" -ge 2 ]' || fail "no alarm mail at the relay"
stop_pid "$SERVICE"

# The messages as a LAN relay delivers them: the client's lines between DATA and the lone dot,
# with the dot-stuffing undone, behind the Received line the relay adds for a client at
# 10.1.2.3 (a filter scores what arrives in the mailbox, never a message without one).
/usr/bin/python3 - "$WORK/mail.raw" "$WORK/message" <<'EOF'
import email.utils
import sys
raw = open(sys.argv[1], "rb").read().split(b"\r\n")
# Received now, as the relay would stamp it (a fixed date would put the message's own Date
# hours into the future or the past, which the filter scores).
now = email.utils.formatdate(usegmt=True).encode()
n, body = 0, None
for line in raw:
    if body is None:
        if line == b"DATA":
            body = []
    elif line == b".":
        n += 1
        received = (b"Received: from srv1.example.test (srv1.example.test [10.1.2.3])\r\n"
                    b"\tby relay.example.test (Postfix) with ESMTP id 4Fq2Xk0Z3Mz9v\r\n"
                    b"\tfor <ops@example.test>; " + now + b"\r\n")
        open("%s-%d.eml" % (sys.argv[2], n), "wb").write(
            received + b"\r\n".join(body) + b"\r\n")
        body = None
    else:
        body.append(line[1:] if line.startswith(b"..") else line)
EOF

checked=0
for eml in "$WORK"/message-*.eml; do
  subject=$(sed -n 's/^Subject: //p' "$eml" | head -1 | tr -d '\r')
  spamassassin -L -t <"$eml" >"$WORK/scored" 2>"$WORK/sa.err" || true
  status=$(tr -d '\r' <"$WORK/scored" | sed -n 's/^X-Spam-Status: //p' | head -1)
  score=$(sed -n 's/.*score=\(-\{0,1\}[0-9.]*\).*/\1/p' <<<"$status")
  [ -n "$score" ] || fail "no score for \"$subject\": $(cat "$WORK/sa.err")"
  # The rules that hit, from the report's table ("pts rule name description").
  echo "== \"$subject\": score $score"
  tr -d '\r' <"$WORK/scored" | sed -n '/^Content analysis details:/,$p' |
    grep -E '^ *-?[0-9]+\.[0-9]+ +[A-Z0-9_]+' || echo "   (no rule hit)"
  awk -v s="$score" 'BEGIN { exit !(s < 1.0) }' ||
    fail "\"$subject\" scores $score, below 1.0 wanted"
  checked=$((checked + 1))
done
[ "$checked" -ge 2 ] || fail "$checked messages scored, the test mail and the alarm wanted"
grep -q '^Subject: APC UPS: High Temp Alarm!' "$WORK"/message-*.eml || fail "no alarm scored"
echo "OK: $checked messages below 1.0"
