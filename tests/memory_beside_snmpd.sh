#!/bin/bash
# Measures the resident and anonymous memory (VmRSS, RssAnon of /proc/PID/status) of the running
# service with neither TLS nor SNMPv3 configured, beside Debian's snmpd on the same machine.
# A measurement, not a test, run by hand: tests/memory_beside_snmpd.sh build/tempwarden
# It runs itself inside a network namespace of its own: the service broadcasts.
set -u
program=$(readlink -f "${1:-build/tempwarden}")
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$program"
run=$(mktemp -d)
cd "$run" || exit 1
# The service writes beside its executable: a copy in the scratch folder keeps the build clean.
cp "$program" "$run/tempwarden"
program=$run/tempwarden
printf 'rocommunity public 127.0.0.1\nagentaddress udp:127.0.0.1:16161\n' >snmpd.conf
/usr/sbin/snmpd -f -Lo -C -c "$run/snmpd.conf" -p "$run/snmpd.pid" >/dev/null 2>&1 &
snmpd_pid=$!
# In a pipeline $! is the PID of its last command: the service itself.
sleep 1 </dev/null | "$program" -console >/dev/null 2>&1 &
service_pid=$!
sleep 5
kill -0 "$service_pid" 2>/dev/null || service_pid=
report() { awk -v who="$1" '/^(VmRSS|RssAnon):/ {printf "%s %s %s kB\n", who, $1, $2}' "/proc/$2/status"; }
[ -n "$service_pid" ] && report tempwarden "$service_pid"
report snmpd "$snmpd_pid"
if [ -n "$service_pid" ]; then
  rss() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
  echo "tempwarden resident set: $((100 * $(rss "$service_pid") / $(rss "$snmpd_pid")))% of snmpd's"
  mapped=$(grep -oE '/lib(ssl|crypto)\.so[^ ]*' "/proc/$service_pid/maps" | sort -u | tr '\n' ' ')
  echo "tempwarden maps OpenSSL: ${mapped:-no}"
fi
[ -n "$service_pid" ] && kill "$service_pid"
kill "$snmpd_pid"
wait
rm -rf "$run"
