# Shared by system tests that need a second host (sourced, not run): call it inside the test's
# own private network namespace, after sourcing tests/lib.sh.
#
#   start_second_host A_ADDR/24 B_ADDR/24   a namespace held by a sleeping process (PID in
#                                           HOLDER, tracked: the script's end stops it),
#                                           joined by the veth pair twa0 (here) - twb0
#                                           (there), both links up
#   on_b COMMAND...                         runs a command in the second host's namespace
#
# Interface names start with "tw" so that the tests' isolation check recognises them as ours.

on_b() { nsenter -t "$HOLDER" -n -- "$@"; }

start_second_host() {
  unshare -n -- sleep 300 &
  HOLDER=$!
  track_pid "$HOLDER"
  wait_until 5 '[ "$(readlink /proc/$HOLDER/ns/net)" != "$(readlink /proc/self/ns/net)" ]' ||
    return 1
  ip link set lo up
  ip link add twa0 type veth peer name twb0
  ip link set twb0 netns "$HOLDER"
  ip addr add "$1" dev twa0
  ip link set twa0 up
  on_b ip link set lo up
  on_b ip addr add "$2" dev twb0
  on_b ip link set twb0 up
}
