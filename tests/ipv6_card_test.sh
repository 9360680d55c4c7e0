#!/usr/bin/env bash
# "tempwarden /query" of a card on IPv6: Debian's snmpd listens on [::1]:161 only, and the
# settings name it as users write it: the address bare or in brackets, a name that has only
# that IPv6 address, a name with an IPv4 address as well (tried first; nothing listens there, so
# the same query goes on at the IPv6 address), and brackets with a port (refused by name).
#
# Runs in a network namespace of its own, with a private /etc (for the names in /etc/hosts);
# every process started here is stopped by its PID.
#
# usage: bash tests/ipv6_card_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: ipv6_card_test.sh BUILD_DIR}" && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/private_etc.sh
source "$(dirname "$0")/private_etc.sh"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"
own_etc "$0" "$@"
own_network_namespace "$0" "$@"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
[ -x /usr/sbin/snmpd ] || skip "Debian's snmpd is not installed"
[ -r /proc/self/net/udp6 ] || skip "no IPv6 in this kernel"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
service_copy "$BUILD"
printf '::1 ups-six\n127.0.0.1 ups-dual\n::1 ups-dual\n' >>/etc/hosts

SNMPD_ADDRESS='udp6:[::1]:161' SNMPD_EXTRA_CONF='rocommunity6 public ::1/128' \
  start_snmpd "$WORK/agent" || fail "snmpd did not start"

READS='temperature .*: 27$'
# host as written     what /query must say
CASES=$(
  cat <<CASES
::1                   $READS
[::1]                 $READS
0:0:0:0:0:0:0:1       $READS
ups-six               $READS
[ups-six]             $READS
ups-dual              $READS
[::1]:161             names a port: write the address alone and the port in UPSPort
CASES
)
while read -r host expectation; do
  for version in 1 2c; do
    write_settings "$SVC/TEMPWARDEN.XML" "UPSHost=$host" SNMPCommunity=public SysLogTrap=7 \
      "SNMPVersion=$version"
    OUT=$(cd / && LC_ALL=C "$SVC/tempwarden" /query 2>&1) || true
    grep -Eq "$expectation" <<<"$OUT" || fail "$host (version $version): no line matching \
'$expectation' in:
$OUT"
    echo "ok: $host (version $version): $(grep -E "$expectation" <<<"$OUT" | head -1)"
  done
done <<<"$CASES"
# A port where nothing listens is named as the settings give it.
write_settings "$SVC/TEMPWARDEN.XML" "UPSHost=::1" UPSPort=1162 SNMPCommunity=public SysLogTrap=7
OUT=$(cd / && LC_ALL=C "$SVC/tempwarden" /query 2>&1) || true
grep -q 'the host refused it, nothing listens on UDP port 1162$' <<<"$OUT" ||
  fail "UPSPort 1162 closed: not named in:
$OUT"
echo "ok: a closed UPSPort is named"
echo "PASS"
