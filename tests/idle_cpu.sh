#!/usr/bin/env bash
# The service's CPU use at rest: the real program at the default intervals ("TempSleep" 300,
# "VoltageSleep" 30) polls Debian's snmpd, and this script reads the scheduler's run time of
# every thread of the process (/proc/PID/task/*/schedstat, first field, in nanoseconds) over a
# real stretch of time after a short warm-up, then prints the figure per hour. It reports only;
# it is no pass/fail test (run it by hand, it takes a minute).
#
# usage: bash tests/idle_cpu.sh BUILD_DIR [SECONDS]   (default 60 s)
set -euo pipefail

BUILD=$(cd "${1:?usage: idle_cpu.sh BUILD_DIR [SECONDS]}" && pwd)
SECONDS_MEASURED=${2:-60}

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
[ -x /usr/sbin/snmpd ] || skip "snmpd is not installed"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

start_snmpd "$WORK/agent" || fail "snmpd did not start"
mkdir -p "$WORK/svc"
cp "$BUILD/tempwarden" "$WORK/svc/tempwarden"
write_settings "$WORK/svc/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
  PhoneHomeServer= TempSleep=300 VoltageSleep=30 AlarmTemp=45

start_bg "$WORK/svc/tempwarden" -console >"$WORK/service.out" 2>&1
SERVICE=$!

# Nanoseconds on CPU of all threads of the process so far.
cpu_ns() {
  local total=0 f ns
  for f in /proc/"$SERVICE"/task/*/schedstat; do
    read -r ns _ <"$f" 2>/dev/null || continue
    total=$((total + ns))
  done
  echo "$total"
}

sleep 5  # start-up: configuration, first readings, day pages
kill -0 "$SERVICE" 2>/dev/null || fail "the service ended: $(cat "$WORK/service.out")"
threads=$(ls /proc/"$SERVICE"/task | wc -l)
before=$(cpu_ns)
sleep "$SECONDS_MEASURED"
after=$(cpu_ns)
kill -0 "$SERVICE" 2>/dev/null || fail "the service ended: $(cat "$WORK/service.out")"
used=$((after - before))
awk -v ns="$used" -v s="$SECONDS_MEASURED" -v t="$threads" 'BEGIN {
  printf "idle CPU: %.6f s in %d s (%d threads) = %.4f s per hour\n", ns / 1e9, s, t,
         ns / 1e9 * 3600 / s
}'
