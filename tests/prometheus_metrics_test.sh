#!/usr/bin/env bash
# The metrics file as Prometheus meets it: build/tempwarden -console polls the simulated UPS
# (build/tempwarden-upsim) and writes "MetricsFile" into a folder that Debian's
# prometheus-node-exporter reads with its text-file collector alone; Debian's prometheus
# scrapes the exporter every second, and the test asks its PromQL API. promtool checks the
# file as written. Then the simulated card is frozen (SIGSTOP): the card counts as not
# answering after three silent queries, and the temperature sample leaves the file and so
# Prometheus.
#
# Short intervals (TempSleep 2, VoltageSleep 1) keep it to well under a minute. Runs in a
# network namespace of its own: the exporter and Prometheus listen on its loopback only.
# Every process it starts is stopped by its PID.
#
# usage: bash tests/prometheus_metrics_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: prometheus_metrics_test.sh BUILD_DIR}" && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"

for tool in prometheus prometheus-node-exporter promtool curl; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (./test.sh installs it)"
done
[ -x "$BUILD/tempwarden" ] && [ -x "$BUILD/tempwarden-upsim" ] ||
  fail "missing $BUILD/tempwarden or $BUILD/tempwarden-upsim"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
SVC="$WORK/svc"
TEXT="$WORK/node-exporter"
PROM="$TEXT/tempwarden.prom"
mkdir -p "$SVC" "$TEXT" "$WORK/prometheus"

on_fail() {
  local f
  for f in "$WORK"/*.log "$PROM"; do
    [ -s "$f" ] || continue
    echo "--- the end of $f" >&2
    tail -n 15 "$f" | cut -c1-300 >&2
  done
}

echo "== the simulated UPS at 24 degrees and 231 V, the service writing $PROM"
start_bg "$BUILD/tempwarden-upsim" --listen 127.0.0.1:161 --community public --temps 24 \
  --volts 231 --quiet >"$WORK/upsim.log" 2>&1
UPSIM=$!
wait_until 10 'grep -q "listening on" "$WORK/upsim.log"' || fail "the simulated UPS did not start"
cp "$BUILD/tempwarden" "$SVC/"
write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
  PhoneHomeServer= TempSleep=2 VoltageSleep=1 AlarmTemp=40 "MetricsFile=$PROM"
(cd "$SVC" && LC_ALL=C exec ./tempwarden -console) >"$WORK/service.log" 2>&1 &
track_pid $!
wait_until 15 'grep -q "^tempwarden_ups_temperature_celsius{" "$PROM" 2>/dev/null' ||
  fail "no temperature in the metrics file"

echo "== promtool check metrics finds nothing to say"
out=$(promtool check metrics <"$PROM" 2>&1) || fail "promtool refused the file: $out"
[ -z "$out" ] || fail "promtool says: $out"
[ "$(stat -c %a "$PROM")" = 644 ] || fail "the file is not readable by the exporter's account"
[ "$(tail -c 1 "$PROM" | od -An -tx1 | tr -d ' ')" = 0a ] || fail "no final newline"
! grep -q $'\r' "$PROM" || fail "CR in the file"
ls "$TEXT" | grep -v '^tempwarden\.prom$' | grep '\.prom$' && fail "a temporary *.prom name"

echo "== the node exporter (text-file collector only) and Prometheus scraping it every second"
start_bg prometheus-node-exporter --web.listen-address=127.0.0.1:9100 \
  --collector.disable-defaults --collector.textfile \
  "--collector.textfile.directory=$TEXT" >"$WORK/node-exporter.log" 2>&1
cat >"$WORK/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: node
    static_configs:
      - targets: ['127.0.0.1:9100']
YAML
start_bg prometheus "--config.file=$WORK/prometheus.yml" \
  "--storage.tsdb.path=$WORK/prometheus" --web.listen-address=127.0.0.1:9090 \
  >"$WORK/prometheus.log" 2>&1

query() {
  curl -s --max-time 2 --get --data-urlencode "query=$1" http://127.0.0.1:9090/api/v1/query ||
    true
}
# The value of a query that has exactly one sample, or "none".
value() {
  query "$1" | python3 -c '
import json, sys
try:
    r = json.load(sys.stdin)["data"]["result"]
except Exception:
    print("error"); sys.exit()
print(r[0]["value"][1] if len(r) == 1 else "none" if not r else "many")'
}

wait_until 30 '[ "$(value tempwarden_ups_temperature_celsius)" = 24 ]' ||
  fail "Prometheus has no temperature 24: $(query tempwarden_ups_temperature_celsius)"
[ "$(value tempwarden_ups_input_voltage_volts)" = 231 ] || fail "no voltage 231"
[ "$(value 'tempwarden_alarm_active{alarm="not_answering",service="VOZIvazure",ups="127.0.0.1"}')" = 0 ] ||
  fail "not_answering is not 0"
[ "$(value 'tempwarden_build_info{version!=""}')" = 1 ] || fail "no build info"
[ "$(value 'node_textfile_scrape_error')" = 0 ] || fail "the exporter could not read the file"

echo "== the card frozen: not answering, and the temperature gone"
kill -STOP "$UPSIM"
wait_until 40 '[ "$(value "tempwarden_alarm_active{alarm=\"not_answering\"}")" = 1 ]' ||
  fail "not_answering did not become 1: $(query 'tempwarden_alarm_active')"
wait_until 10 '[ "$(value tempwarden_ups_temperature_celsius)" = none ]' ||
  fail "the temperature is still there: $(query tempwarden_ups_temperature_celsius)"
grep -q '^tempwarden_ups_temperature_celsius{' "$PROM" && fail "the sample is still in the file"
[ "$(value 'tempwarden_poll_failures_total{cause="timeout"}')" != 0 ] || fail "no timeouts counted"
out=$(promtool check metrics <"$PROM" 2>&1) || fail "promtool refused the file: $out"
[ -z "$out" ] || fail "promtool says: $out"
kill -CONT "$UPSIM"
echo "PASS"
