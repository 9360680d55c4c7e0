#!/usr/bin/env bash
# The service at work without a UPS. Builds the service and the simulated UPS, then runs both
# inside a private network namespace (nothing they send can reach the network around this
# machine): the simulated UPS on 127.0.0.1:161, the service in console mode from demo-run/
# with a generated TEMPWARDEN.XML, a local SMTP relay with STARTTLS (and a CA of its own that
# the service is told to trust) that keeps the alert mails, and a syslog receiver. Stops by itself after three minutes, or just after the service's second
# temperature sample when that comes later (DEMO_SECONDS sets the time), or on Ctrl+C,
# stopping every process by its PID, and leaves the service's files in demo-run/.
#
# usage: ./demo.sh            DEMO_SECONDS=600 ./demo.sh   (a longer look)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
RUN="$ROOT/demo-run"
case "${DEMO_SECONDS:-180}" in
  '' | *[!0-9]*) echo "DEMO_SECONDS must be a whole number of seconds" >&2; exit 2 ;;
esac

if [ -z "${TW_DEMO_INNER:-}" ]; then
  PACKAGES=(cmake ninja-build g++ pkg-config libsystemd-dev libgtest-dev libgmock-dev iproute2
    util-linux python3-aiosmtpd libssl-dev openssl nlohmann-json3-dev)
  missing=()
  for p in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    run() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
    run apt-get update
    run env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
  fi

  echo "== building the service and the simulated UPS"
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target tempwarden tempwarden-upsim

  isolate=(unshare -n)
  [ "$(id -u)" -eq 0 ] || isolate=(unshare -rn)
  exec env TW_DEMO_INNER=1 "${isolate[@]}" -- bash "$0" "$@"
fi

# From here on: inside the private namespace, where loopback is the only network.
ip link set lo up
# shellcheck source=tests/lib.sh
source "$ROOT/tests/lib.sh"

show() {  # a heading and those of the named files that exist
  local title=$1 file found=""
  shift
  for file in "$@"; do
    [ -f "$file" ] || continue
    [ -n "$found" ] || echo "  $title:"
    found=1
    echo "    $file"
  done
}
# What the demo leaves, shown at the end once every process has stopped.
summary() {
  [ -f "$RUN/mail-transcript.txt" ] &&
    /usr/bin/python3 "$ROOT/tests/mail_transcript.py" "$RUN/mail-transcript.txt" >"$RUN/mails.txt"
  echo
  echo "== the files are in $RUN"
  show "temperature history" "$RUN"/APCUPSTempLog_*.csv
  show "chart pages (open them in a browser; they draw with Google Charts from the internet)" \
    "$RUN"/APCUPSTempLog_*.html
  show "activity log" "$RUN"/APC-*.CSV
  show "alert mails ($(grep -c '^MAIL ' "$RUN/mails.txt" 2>/dev/null || true) received)" \
    "$RUN/mails.txt" "$RUN/mail-transcript.txt"
  show "the relay's TLS sessions (protocol and cipher)" "$RUN/relay.err"
  show "syslog datagrams ($(wc -l <"$RUN/syslog.txt" 2>/dev/null || echo 0) received)" \
    "$RUN/syslog.txt"
  show "the simulated UPS's answers" "$RUN/upsim.log"
  show "the service's console" "$RUN/service.log"
  show "exception reports" "$RUN"/E\!*
  return 0
}
at_exit summary

echo "== preparing $RUN"
rm -rf "$RUN"
mkdir -p "$RUN"
cp "$ROOT/build/tempwarden" "$RUN/tempwarden"  # the service writes its files beside itself

# An SMTP relay on loopback that accepts every mail and keeps the exchange, with STARTTLS and
# a certificate for "localhost" from a CA made here (demo-run/tls/ca.pem, which the service
# trusts through SMTPCAFile).
bash "$ROOT/tests/make_test_certs.sh" "$RUN/tls" ||
  { echo "openssl could not make the relay's certificate" >&2; exit 1; }
start_bg /usr/bin/python3 "$ROOT/tests/smtp_server.py" --transcript "$RUN/mail-transcript.txt" \
  --raw "$RUN/mail-raw.bin" --starttls "$RUN/tls/localhost.pem" "$RUN/tls/localhost.key" \
  >"$RUN/relay.out" 2>"$RUN/relay.err"
wait_until 10 'grep -q "^READY " "$RUN/relay.out"' ||
  { echo "the SMTP relay did not start: $(cat "$RUN/relay.err")" >&2; exit 1; }
SMTP_PORT=$(sed -n 's/^READY //p' "$RUN/relay.out")
rm -f "$RUN/relay.out"

# A syslog receiver for the start announcement, new highs and phone-home reports.
start_bg /usr/bin/python3 "$ROOT/tests/syslog_listener.py" 0.0.0.0 "$RUN/.listening" \
  >"$RUN/syslog.txt" 2>/dev/null
wait_until 10 '[ -f "$RUN/.listening" ]' || echo "(no syslog receiver: port 514 is taken)"
rm -f "$RUN/.listening"

# The service samples the temperature once per five-minute point of the clock: at once, and
# next when the next point begins (or the one after, when that is only moments away).
now=$(date +%s)
second_sample=$(((now / 300 + 1) * 300 - now))
[ "$second_sample" -ge 15 ] || second_sample=$((second_sample + 300))
# Three minutes, or until just after the second sample, unless told otherwise.
DEMO_SECONDS=${DEMO_SECONDS:-$((second_sample + 20 > 180 ? second_sample + 20 : 180))}

# The simulated UPS: a day that begins at 14:00, near its warmest (31 degrees), and runs fast
# enough to reach 19:00 (28.5 degrees) by the second sample; the mains fails for the last 20
# seconds of every minute.
speed=$((5 * 3600 / second_sample))
start_bg "$ROOT/build/tempwarden-upsim" --listen 127.0.0.1:161 --community public \
  --mean 26 --swing 5 --noise 0.6 --start 14:00 --speed "$speed" \
  --outage-every 60 --outage-for 20 --seed "$now" >"$RUN/upsim.log" 2>&1
wait_until 10 'grep -q "listening on" "$RUN/upsim.log"' ||
  { echo "the simulated UPS did not start: $(cat "$RUN/upsim.log")" >&2; exit 1; }

write_settings "$RUN/TEMPWARDEN.XML" \
  "<!-- Written by demo.sh: the simulated UPS, short intervals, the local mail relay. -->" \
  UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 PhoneHomeServer= TempSleep=5 \
  VoltageSleep=2 AlarmTemp=30 EmailToAddr=operator@demo.invalid \
  EmailCCAddr=facilities@demo.invalid SMTPRelay=localhost SMTPPort="$SMTP_PORT" \
  SMTPSecurity=starttls SMTPCAFile=tls/ca.pem EmailFromAddr=tempwarden@demo.invalid \
  SyslogCollector=127.0.0.1 PhoneHomeCollector=127.0.0.1

(cd "$RUN" && exec ./tempwarden -console) >"$RUN/service.log" 2>&1 &
SERVICE=$!
# At the end it stops first, with five seconds to finish its pass; then the peers, then the
# summary.
track_pid "$SERVICE" 5
at_exit 'echo; echo "== stopping (the service first, so that it finishes its pass)"'

cat <<EOF
== running for $DEMO_SECONDS s (Ctrl+C stops earlier)
  The service polls the simulated UPS on 127.0.0.1:161: the input voltage every 2 s, a
  temperature pass every 5 s. It records one temperature sample per five-minute point of the
  clock: one now, the next in about $second_sample s. The simulated day starts at 14:00 near
  31 degrees, above the alarm level of 30, so the alarm mail goes out at once (over STARTTLS,
  the relay's certificate checked against the demo's own CA); by the second
  sample it has cooled below 29.5, which clears the alarm (and is a new low). The mains fails
  for the last 20 s of every minute: the activity log shows each change (code 50300).
EOF

started=$(date +%s)
next_status=0
while :; do
  elapsed=$(($(date +%s) - started))
  [ "$elapsed" -lt "$DEMO_SECONDS" ] || break
  kill -0 "$SERVICE" 2>/dev/null || { echo "the service has stopped; see $RUN/service.log"; break; }
  if [ "$elapsed" -ge "$next_status" ]; then
    next_status=$((next_status + 10))
    temp=$(grep -oE 'temperature=[0-9]+' "$RUN/upsim.log" | tail -n 1 | cut -d= -f2)
    volts=$(grep -oE 'voltage=[0-9]+' "$RUN/upsim.log" | tail -n 1 | cut -d= -f2)
    entries=$(cat "$RUN"/APC-*.CSV 2>/dev/null | wc -l)
    mails=$(grep -c '^C: DATA$' "$RUN/mail-transcript.txt" 2>/dev/null || true)
    printf '  [%3d s] last read: %s degrees, %s volts | activity log: %s entries | mails: %s\n' \
      "$elapsed" "${temp:-?}" "${volts:-?}" "$entries" "${mails:-0}"
  fi
  sleep 1
done
