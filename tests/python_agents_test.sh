#!/usr/bin/env bash
# "tempwarden /query" against two more SNMP stacks written by other people, both from Debian:
# pysnmp's command responder (python3-pysnmp4, tests/pysnmp_agent.py) and the simulator
# snmpsim (snmpsimd with the data files of tests/snmpsim_data: the community, or in version 3
# the context, picks the file). Versions 1, 2c and 3 read the card where the agent answers
# as it should; where it cannot, the cause is named: a wrong auth or privacy password, a
# temperature as text, a missing object, a context the agent lacks.
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/python_agents_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: python_agents_test.sh BUILD_DIR}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"

# Debian's interpreter, where Debian's packages are (not another one first on the PATH).
PYTHON=/usr/bin/python3
[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
"$PYTHON" -c 'import pysnmp' 2>/dev/null || skip "python3-pysnmp4 is not installed"
command -v snmpsimd >/dev/null || skip "snmpsim is not installed"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
service_copy "$BUILD"
PORT=1161
AGENT=
AGENT_RUNS=

on_fail() { [ ! -f "$WORK/agent.out" ] || tail -20 "$WORK/agent.out" >&2; }

pysnmp_agent() {  # pysnmp_agent TYPE:VALUE: (re)starts pysnmp serving the temperature so
  [ "$AGENT_RUNS" != "pysnmp $1" ] || return 0
  [ -z "$AGENT" ] || stop_pid "$AGENT"
  start_bg "$PYTHON" "$SOURCE/tests/pysnmp_agent.py" "$PORT" "${1%%:*}" "${1#*:}" \
    >"$WORK/agent.out" 2>&1
  AGENT=$!
  AGENT_RUNS="pysnmp $1"
  wait_until 20 'grep -q listening "$WORK/agent.out"' ||
    fail "pysnmp did not start: $(cat "$WORK/agent.out")"
}

snmpsim_agent() {  # snmpsim_agent: starts snmpsimd once, with the test's data files
  [ "$AGENT_RUNS" != snmpsim ] || return 0
  [ -z "$AGENT" ] || stop_pid "$AGENT"
  # snmpsimd will not run as root; it drops to nobody, who must read the data and the cache.
  mkdir -p "$WORK/sim/cache"
  cp "$SOURCE"/tests/snmpsim_data/*.snmprec "$WORK/sim/"
  chmod -R a+rwX "$WORK/sim"
  chmod a+x "$WORK"
  local user=()
  [ "$(id -u)" -ne 0 ] || user=(--process-user=nobody --process-group=nogroup)
  start_bg snmpsimd "${user[@]}" --data-dir="$WORK/sim" --cache-dir="$WORK/sim/cache" \
    --agent-udpv4-endpoint="127.0.0.1:$PORT" \
    --v3-user=shaaes --v3-auth-key=shaaes-auth-pass --v3-auth-proto=SHA \
    --v3-priv-key=shaaes-priv-pass --v3-priv-proto=AES \
    --v3-user=sha256aes256 --v3-auth-key=sha256aes256-auth --v3-auth-proto=SHA256 \
    --v3-priv-key=sha256aes256-priv --v3-priv-proto=AES256BLMT \
    >"$WORK/agent.out" 2>&1
  AGENT=$!
  AGENT_RUNS=snmpsim
  # It lists the data files' context names when it is about to serve them.
  wait_until 30 'grep -q "Listening at" "$WORK/agent.out"' ||
    fail "snmpsimd did not start: $(cat "$WORK/agent.out")"
}

query() {  # query KEY=VALUE...: /query with these settings over the defaults; sets OUT
  local defaults=(UPSHost=127.0.0.1 UPSPort="$PORT" SNMPCommunity=public SysLogTrap=7) d
  local settings=()
  for d in "${defaults[@]}"; do
    [[ " $* " == *" ${d%%=*}="* ]] || settings+=("$d")
  done
  write_settings "$SVC/TEMPWARDEN.XML" "${settings[@]}" "$@"
  OUT=$(cd / && LC_ALL=C "$SVC/tempwarden" /query 2>&1) || true
}

# The users' settings; the passwords are the agents' (see the agents above).
SHAAES="SNMPVersion=3 SNMPUser=shaaes SNMPAuthPassword=shaaes-auth-pass SNMPPrivPassword=shaaes-priv-pass"
SHA256="SNMPVersion=3 SNMPUser=sha256aes256 SNMPAuthProtocol=SHA256 SNMPAuthPassword=sha256aes256-auth SNMPPrivProtocol=AES256 SNMPPrivPassword=sha256aes256-priv"
SHA512="SNMPVersion=3 SNMPUser=sha512 SNMPAuthProtocol=SHA512 SNMPAuthPassword=sha512-auth-pass SNMPPrivProtocol=none"
MD5DES="SNMPVersion=3 SNMPUser=md5des SNMPAuthProtocol=MD5 SNMPAuthPassword=md5des-auth-pass SNMPPrivProtocol=DES SNMPPrivPassword=md5des-priv-pass"
BADAUTH="SNMPVersion=3 SNMPUser=shaaes SNMPAuthPassword=not-the-auth-pass SNMPPrivPassword=shaaes-priv-pass"
BADPRIV="SNMPVersion=3 SNMPUser=shaaes SNMPAuthPassword=shaaes-auth-pass SNMPPrivPassword=not-the-priv-pass"
READS='temperature .*: 27$'
TEXT='temperature .*: no reading: OctetString "abc" is no number'
MISSING='temperature .*: no answer: the card does not provide the object'
WRONG_AUTH='wrong SNMPAuthPassword or SNMPAuthProtocol'
# Neither stack reports a request it cannot decrypt, nor one for a context it lacks: they drop
# it, and the timeout after their discovery answer names what to check.
WRONG_PRIV='answered the discovery but not the request of user "shaaes" \(authPriv, privacy AES, .*SNMPPrivPassword'
NO_CONTEXT='context "nowhere"\): check .*SNMPContext'

# stack    agent data     settings                                  what /query must say
CASES=$(
  cat <<CASES
pysnmp  Gauge32:27      SNMPVersion=1                                 $READS
pysnmp  Gauge32:27      SNMPVersion=1                                 input voltage .*: 230$
pysnmp  Gauge32:27      SNMPVersion=2c                                $READS
pysnmp  Gauge32:27      $SHAAES                                       $READS
pysnmp  Gauge32:27      $SHA256                                       $READS
pysnmp  Gauge32:27      $SHA512                                       $READS
pysnmp  Gauge32:27      $MD5DES                                       $READS
pysnmp  Gauge32:27      $BADAUTH                                      $WRONG_AUTH
pysnmp  Gauge32:27      $BADPRIV                                      $WRONG_PRIV
pysnmp  Integer32:27    SNMPVersion=2c                                $READS
pysnmp  OctetString:27  SNMPVersion=2c                                $READS
pysnmp  OctetString:abc SNMPVersion=1                                 $TEXT
pysnmp  OctetString:abc SNMPVersion=2c                                $TEXT
pysnmp  OctetString:abc $SHAAES                                       $TEXT
pysnmp  missing:0       SNMPVersion=1                                 $MISSING
pysnmp  missing:0       SNMPVersion=2c                                $MISSING
pysnmp  missing:0       $SHA512                                       $MISSING
snmpsim -               SNMPVersion=1                                 $READS
snmpsim -               SNMPVersion=2c                                $READS
snmpsim -               $SHAAES SNMPContext=public                    $READS
snmpsim -               $SHA256 SNMPContext=public                    $READS
snmpsim -               $BADAUTH SNMPContext=public                   $WRONG_AUTH
snmpsim -               $BADPRIV SNMPContext=public                   $WRONG_PRIV
snmpsim -               $SHAAES SNMPContext=nowhere                   $NO_CONTEXT
snmpsim -               SNMPVersion=1 SNMPCommunity=text              $TEXT
snmpsim -               SNMPVersion=2c SNMPCommunity=text             $TEXT
snmpsim -               $SHAAES SNMPContext=text                      $TEXT
snmpsim -               SNMPVersion=1 SNMPCommunity=missing           $MISSING
snmpsim -               SNMPVersion=2c SNMPCommunity=missing          $MISSING
snmpsim -               $SHAAES SNMPContext=missing                   $MISSING
CASES
)

while read -r stack data rest; do
  split_case "$rest"
  settings=("${SETTINGS[@]}") expectation=$EXPECTATION
  case "$stack" in
    pysnmp) pysnmp_agent "$data" ;;
    snmpsim) snmpsim_agent ;;
  esac
  query "${settings[@]}"
  name="$stack ${settings[*]}"
  grep -Eq "$expectation" <<<"$OUT" || fail "$name: no line matching '$expectation' in:
$OUT"
  echo "ok: $name: $(grep -E "$expectation" <<<"$OUT" | head -1)"
done <<<"$CASES"
echo "PASS"
