# systemd's own verdict on a unit file, for the system test scripts (sourced, not run).
#
#   check_unit FILE   systemd-analyze verify must accept FILE without a word about it, and
#                     systemd-analyze security --offline=yes must rate it 2.0 or lower with
#                     every sandbox setting in place except those the service needs open
#                     (listed below with the reason); prints the rating

# Checks that the service cannot pass, and why:
#   PrivateNetwork=, IPAddressDeny=, RestrictAddressFamilies=~AF_(INET|INET6): it talks SNMP,
#     SMTP and syslog to hosts anywhere;
#   RestrictAddressFamilies=~AF_UNIX: the notify socket of systemd;
#   RestrictAddressFamilies=~AF_NETLINK: getifaddrs, for the interfaces' broadcast addresses;
#   RootDirectory=/RootImage=: it runs from its own directory on the host's file system;
#   DeviceAllow=: ProtectClock= itself grants reading the real-time clock;
#   UMask=: 0027, the group may read the history.
TW_UNIT_OPEN_CHECKS='PrivateNetwork= IPAddressDeny= RestrictAddressFamilies=~AF_(INET|INET6) RestrictAddressFamilies=~AF_UNIX RestrictAddressFamilies=~AF_NETLINK RootDirectory=/RootImage= DeviceAllow= UMask='

check_unit() {
  local unit=$1 out rc man=()
  # verify runs man for Documentation=man:tempwarden(8): where the page is installed (the
  # package's test) it must be found; a unit written from a build tree has no page beside it.
  man -w 8 tempwarden >/dev/null 2>&1 || man=(--man=no)
  set +e
  out=$(systemd-analyze verify "${man[@]}" "$unit" 2>&1); rc=$?
  set -e
  [ $rc -eq 0 ] || fail "systemd-analyze verify $unit ($rc): $out"
  ! grep -qF "$(basename "$unit")" <<<"$out" || fail "systemd-analyze verify $unit: $out"
  set +e
  out=$(systemd-analyze security --offline=yes --threshold=20 "$unit" 2>&1); rc=$?
  set -e
  [ $rc -eq 0 ] || fail "exposure above 2.0 ($rc): $out"
  grep -o 'Overall exposure level for .*' <<<"$out" || fail "no rating: $out"
  systemd-analyze security --offline=yes --json=short "$unit" | python3 -c '
import json, sys
open_checks = set(sys.argv[1].split())
checks = json.load(sys.stdin)
missing = [c["name"] for c in checks if not c["set"] and c["name"] not in open_checks]
closed = [n for n in open_checks if not any(c["name"] == n for c in checks)]
if missing or closed:
    print("settings missing: %s; open checks unknown to systemd-analyze: %s" % (missing, closed))
    sys.exit(1)
' "$TW_UNIT_OPEN_CHECKS" || fail "sandbox of $unit"
}
