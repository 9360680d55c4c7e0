#!/usr/bin/env bash
# The Windows build's "/query" under Wine, on what only the Windows platform code does: the
# card on IPv6 (Winsock sockets of that family, Debian's snmpd on [::1]:161 only, versions 2c
# and 3, the address bare or in brackets), and SHA-224, which BCrypt lacks: refused at start by
# its setting's name, never replaced by another hash.
#
# Runs in network, pid and mount namespaces of its own, like tests/wine_instances_test.sh.
# usage: bash tests/wine_query_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: wine_query_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"

# shellcheck source=tests/wine_lib.sh
source "$HERE/wine_lib.sh"
[ -n "${TW_WINE_TEST_INNER:-}" ] || [ -x /usr/sbin/snmpd ] || skip "Debian's snmpd is not installed"
wine_isolate "$BUILD" "tempwarden.exe" "$0" "$@"
ip link set lo up
[ -r /proc/self/net/udp6 ] || skip "no IPv6 in this kernel"
# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"

wine_prefix
mkdir -p "$WORK/app"
cp "$TW_WIN_BUILD_DIR/tempwarden.exe" "$WORK/app/"

SNMPD_ADDRESS='udp6:[::1]:161' SNMPD_EXTRA_CONF='rocommunity6 public ::1/128
createUser shaaes SHA shaaes-auth-pass AES shaaes-priv-pass
rouser shaaes priv' start_snmpd "$WORK/agent" || fail "snmpd did not start"

V3="SNMPVersion=3 SNMPUser=shaaes SNMPAuthPassword=shaaes-auth-pass SNMPPrivPassword=shaaes-priv-pass"
# settings                                       what /query must say
CASES=$(
  cat <<CASES
UPSHost=::1 SNMPVersion=2c                       temperature .*: 27\$
UPSHost=[::1] SNMPVersion=2c                     input voltage .*: 230\$
UPSHost=::1 $V3                                  temperature .*: 27\$
UPSHost=::1 $V3 SNMPAuthProtocol=SHA224          SNMPAuthProtocol SHA224 is not available from this platform's cryptography
CASES
)
while read -r line; do
  split_case "$line"
  settings=("${SETTINGS[@]}") expectation=$EXPECTATION
  write_settings "$WORK/app/TEMPWARDEN.XML" SNMPCommunity=public SysLogTrap=7 "${settings[@]}"
  OUT=$(cd "$WORK/app" && timeout 120 wine tempwarden.exe /query </dev/null 2>&1 | tr -d '\r') ||
    true
  grep -Eq "$expectation" <<<"$OUT" || fail "${settings[*]}: no line matching '$expectation' in:
$OUT"
  echo "ok: ${settings[*]}: $(grep -E "$expectation" <<<"$OUT" | head -1)"
done <<<"$CASES"
echo "PASS"
