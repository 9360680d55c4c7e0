#!/usr/bin/env bash
# "tempwarden /query" over a lossy path in the kernel: 30% of the datagrams to and from UDP
# port 161 are dropped in the test's own network namespace, by netem (tc qdisc ... netem loss)
# where the kernel has it, else by an nftables rule with a random number per packet (the same
# loss, the kernel's own). Debian's snmpd answers; the resends within the 5-second wait keep
# the samples that one try would lose (one try gets through about half the time, 0.7 x 0.7).
# Prints how many of the queries read their value, the requests sent again, and the datagrams
# dropped.
#
# Runs in a network namespace of its own; every process started here is stopped by its PID.
#
# usage: bash tests/packet_loss_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: packet_loss_test.sh BUILD_DIR}" && pwd)

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/snmpd_agent.sh
source "$(dirname "$0")/snmpd_agent.sh"
own_network_namespace "$0" "$@"

[ -x "$BUILD/tempwarden" ] || fail "missing $BUILD/tempwarden"
[ -x /usr/sbin/snmpd ] || skip "Debian's snmpd is not installed"
command -v nft >/dev/null || skip "nft is not installed (Debian package nftables)"
RUNS=15  # /query reads two objects per run
LOSS=30

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
service_copy "$BUILD"
start_snmpd "$WORK/agent" || fail "snmpd did not start"

# The requests as they leave, counted; the loss on the way in (both directions pass lo's input).
nft -f - <<NFT || skip "the kernel's nftables cannot count or drop here"
table inet tw_loss {
  chain output {
    type filter hook output priority 0;
    udp dport 161 counter name requests
  }
  counter requests {}
  counter dropped {}
}
NFT
if tc qdisc add dev lo root netem loss "$LOSS%" 2>/dev/null; then
  HOW="netem"
else
  nft -f - <<NFT || skip "neither netem nor nftables' numgen can drop datagrams here"
table inet tw_loss {
  chain input {
    type filter hook input priority 0;
    udp dport 161 numgen random mod 100 < $LOSS counter name dropped drop
    udp sport 161 numgen random mod 100 < $LOSS counter name dropped drop
  }
}
NFT
  HOW="nftables numgen"
fi

read=0
for ((i = 0; i < RUNS; i++)); do
  version=1
  [ $((i % 2)) -eq 0 ] || version=2c
  write_settings "$SVC/TEMPWARDEN.XML" UPSHost=127.0.0.1 SNMPCommunity=public SysLogTrap=7 \
    "SNMPVersion=$version"
  OUT=$(cd / && LC_ALL=C "$SVC/tempwarden" /query 2>&1) || true
  read=$((read + $(grep -cE 'temperature .*: 27$|input voltage .*: 230$' <<<"$OUT" || true)))
done
queries=$((RUNS * 2))
packets() { nft list counter inet tw_loss "$1" | grep -o 'packets [0-9]*' | grep -o '[0-9]*'; }
requests=$(packets requests)
dropped="$(packets dropped) datagrams dropped"
[ "$HOW" != netem ] || dropped="the datagrams netem dropped are not counted"
echo "loss of $LOSS% each way ($HOW): $read of $queries queries read," \
  "$((requests - queries)) requests sent again, $dropped"
[ "$requests" -gt "$queries" ] || fail "nothing was sent again"
# One try alone would read about 15 of 30 (at most about 20 once in 30 runs); the resends
# read about 26.
[ "$read" -ge $((queries * 2 / 3)) ] || fail "only $read of $queries queries read"
echo "PASS"
