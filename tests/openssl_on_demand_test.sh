#!/usr/bin/env bash
# OpenSSL is loaded only when the settings need it: the program links none of libssl,
# libcrypto, libsystemd or the compression and gcrypt libraries; reading the UPS with SNMP
# version 1 never maps OpenSSL, reading it with version 3 does (and works through it).
# Runs in a network namespace of its own, against Debian's snmpd.
# usage: bash tests/openssl_on_demand_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: openssl_on_demand_test.sh BUILD_DIR}" && pwd)
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/snmpd_agent.sh
source "$HERE/snmpd_agent.sh"
[ -x /usr/sbin/snmpd ] || skip "Debian's snmpd is not installed"

echo "-- ldd"
linked=$(ldd "$BUILD/tempwarden")
for lib in libssl libcrypto libsystemd liblzma libzstd liblz4 libgcrypt libgpg-error libcap; do
  if grep -q "$lib[.-]" <<<"$linked"; then fail "the program links $lib: $linked"; fi
done

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
SNMPD_EXTRA_CONF=$'createUser twuser SHA twauthpass AES twprivpass\nrouser twuser priv'
start_snmpd "$WORK/agent" || fail "snmpd"

openssl_mapped() { grep -E '/libssl\.so|/libcrypto\.so' "/proc/$1/maps" || true; }

# Starts the service in a folder of its own with the settings given, waits for its first
# reading (a 50200 entry) and prints what it maps of OpenSSL.
run_service() {
  local name=$1
  shift
  mkdir -p "$WORK/$name"
  cp "$BUILD/tempwarden" "$WORK/$name/tempwarden"
  write_settings "$WORK/$name/TEMPWARDEN.XML" UPSHost=127.0.0.1 SysLogTrap=7 TempSleep=2 \
    VoltageSleep=1 "$@"
  start_bg "$WORK/$name/tempwarden" -console >"$WORK/$name/console.out" 2>&1
  local pid=$! log="$WORK/$name/APC-$(date +%Y%m%d).CSV"
  wait_until 10 'grep -qs ",50200,.*\[UPSTemp=27\]" "$log"' ||
    fail "$name: no reading: $(cat "$log" "$WORK/$name/console.out" 2>&1)"
  MAPPED=$(openssl_mapped "$pid")
  stop_pid "$pid"
}

echo "-- version 1: no OpenSSL"
run_service v1 SNMPCommunity=public
[ -z "$MAPPED" ] || fail "version 1 mapped OpenSSL: $MAPPED"

echo "-- version 3 (authPriv): OpenSSL loaded, and the reading comes through it"
run_service v3 SNMPVersion=3 SNMPUser=twuser SNMPAuthProtocol=SHA SNMPAuthPassword=twauthpass \
  SNMPPrivProtocol=AES SNMPPrivPassword=twprivpass
grep -q libcrypto <<<"$MAPPED" || fail "version 3 read the UPS without libcrypto mapped"
echo "PASS"
