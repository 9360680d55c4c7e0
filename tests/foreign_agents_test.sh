#!/usr/bin/env bash
# "tempwarden /query" against an SNMP stack written by other people: the npm package net-snmp
# in agent mode (tests/npm_agent, installed from its package-lock by test.sh). Versions 1, 2c
# and 3 users (SHA/AES, SHA-512 without privacy) read the card, MD5/DES is named; an agent that answers
# with text, with a missing object, or refuses a wrong password is named for what it is.
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/foreign_agents_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: foreign_agents_test.sh BUILD_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
command -v node >/dev/null || skip "node is not installed"
[ -d "$SOURCE/tests/npm_agent/node_modules/net-snmp" ] ||
  skip "tests/npm_agent: run npm ci there (test.sh does)"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
service_copy "$BUILD"
PORT=1161
AGENT=

agent() {  # agent TYPE VALUE: (re)starts the npm agent serving the temperature so
  [ -z "$AGENT" ] || stop_pid "$AGENT"
  start_bg node "$SOURCE/tests/npm_agent/agent.js" "$PORT" "$1" "$2" >"$WORK/agent.out" 2>&1
  AGENT=$!
  wait_until 10 'grep -q listening "$WORK/agent.out"' ||
    fail "the npm agent did not start: $(cat "$WORK/agent.out")"
}

query() {  # query KEY=VALUE...: /query with these settings; sets OUT
  write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 UPSPort="$PORT" SNMPCommunity=public \
    SysLogTrap=7 "$@"
  OUT=$(cd / && LC_ALL=C "$SVC/tempwarden" /query 2>&1) || true
}

expect() {  # expect NAME REGEX: the output of the last query must match
  grep -Eq "$2" <<<"$OUT" || fail "$1: no line matching '$2' in:
$OUT"
  echo "ok: $1"
}

V3=(SNMPVersion=3)
agent Gauge32 27
query SNMPVersion=1
expect "v1 reads" 'temperature .*: 27$'
expect "v1 reads the voltage" 'input voltage .*: 230$'
query SNMPVersion=2c
expect "v2c reads" 'temperature .*: 27$'
query "${V3[@]}" SNMPUser=shaaes SNMPAuthPassword=shaaes-auth-pass SNMPPrivPassword=shaaes-priv-pass
expect "v3 SHA/AES reads" 'temperature .*: 27$'
query "${V3[@]}" SNMPUser=sha512 SNMPAuthProtocol=SHA512 SNMPAuthPassword=sha512-auth-pass \
  SNMPPrivProtocol=none
expect "v3 SHA-512 reads" 'temperature .*: 27$'
query "${V3[@]}" SNMPUser=md5des SNMPAuthProtocol=MD5 SNMPAuthPassword=md5des-auth-pass \
  SNMPPrivProtocol=DES SNMPPrivPassword=md5des-priv-pass
# Node's OpenSSL 3 has no DES without its legacy provider, so this agent drops DES requests
# (Debian's snmpd reads them, snmp/snmpd_v3_test.cc): the timeout names what to check.
expect "v3 MD5/DES is named" 'answered the discovery but not the request of user "md5des" \(authPriv, privacy DES'

query "${V3[@]}" SNMPUser=shaaes SNMPAuthPassword=not-the-auth-pass \
  SNMPPrivPassword=shaaes-priv-pass
# This agent drops a request whose digest is wrong, without a report: the timeout after its
# discovery answer names the user and the authentication password and protocol to check.
expect "v3 wrong auth password is named" 'answered the discovery but not the request of user "shaaes".*SNMPAuthProtocol, SNMPAuthPassword'
query "${V3[@]}" SNMPUser=shaaes SNMPAuthPassword=shaaes-auth-pass \
  SNMPPrivPassword=not-the-priv-pass
expect "v3 wrong priv password is named" 'SNMPPrivPassword'

agent OctetString abc
query SNMPVersion=2c
expect "text is no reading" 'temperature .*: no reading: OctetString "abc" is no number'
agent missing 0
query SNMPVersion=2c
expect "a missing object is named" \
  'temperature .*: no answer: the card does not provide the object'
query SNMPVersion=1
expect "v1: a missing object is named" \
  'temperature .*: no answer: the card does not provide the object'
echo "PASS"
