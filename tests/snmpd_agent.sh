# Debian's snmpd as the UPS card, for the system test scripts (source this file).
#
#   start_snmpd DIR   serves the temperature and input-voltage objects on udp 127.0.0.1:161 as
#                     Gauge32 from the files DIR/temperature and DIR/voltage (community
#                     "public"), through a pass_persist script that reads them at every query;
#                     a file DIR/temperature.type ("string") changes the temperature's type;
#                     files DIR/objects/OID (type, value) serve further objects of the card
#                     (the environmental probes and universal I/O sensors too);
#                     sets SNMPD_PID; SNMPD_EXTRA_CONF, when set, is added to its configuration
#                     (e.g. createUser and rouser lines for version 3); SNMPD_ADDRESS, when
#                     set, replaces the address (e.g. "udp6:[::1]:161" with a rocommunity6
#                     line in SNMPD_EXTRA_CONF)
#   stop_snmpd        stops it by its PID (the script's end does too)
# Call it only inside the test's own network namespace, after sourcing tests/lib.sh.

SNMPD_PID=""

start_snmpd() {
  local dir=$1
  mkdir -p "$dir/persist"
  [ -f "$dir/temperature" ] || echo 27 >"$dir/temperature"
  [ -f "$dir/voltage" ] || echo 230 >"$dir/voltage"
  cp "$(dirname "${BASH_SOURCE[0]}")/ups_pass_persist.sh" "$dir/agent.sh"
  chmod 700 "$dir/agent.sh"
  cat >"$dir/snmpd.conf" <<CONF
agentAddress ${SNMPD_ADDRESS:-udp:127.0.0.1:161}
rocommunity public 127.0.0.1
pass_persist .1.3.6.1.4.1.318.1.1.1 $dir/agent.sh
pass_persist .1.3.6.1.4.1.318.1.1.10 $dir/agent.sh
pass_persist .1.3.6.1.4.1.318.1.1.25 $dir/agent.sh
${SNMPD_EXTRA_CONF:-}
CONF
  SNMP_PERSISTENT_DIR="$dir/persist" MIBS= /usr/sbin/snmpd -f -C -c "$dir/snmpd.conf" \
    -I -smux -Lf "$dir/snmpd.log" &
  SNMPD_PID=$!
  track_pid "$SNMPD_PID"
  wait_until 5 'snmpd_listens || ! kill -0 "$SNMPD_PID" 2>/dev/null' || true
  if snmpd_listens; then return 0; fi
  echo "snmpd did not start:" >&2
  cat "$dir/snmpd.log" >&2 || true
  return 1
}

snmpd_listens() {
  grep -q ' 0100007F:00A1 ' /proc/self/net/udp 2>/dev/null ||
    grep -q ' 00000000000000000000000001000000:00A1 ' /proc/self/net/udp6 2>/dev/null
}

stop_snmpd() {
  stop_pid "$SNMPD_PID"
  SNMPD_PID=""
}
