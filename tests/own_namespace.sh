# Shared by the system test scripts (sourced, not run).
#
#   own_network_namespace "$0" "$@"   at the top of a script: re-runs the script once inside a
#                                      network namespace of its own (unshare -n, or -rn when
#                                      not root), so nothing it sends can leave the machine,
#                                      and brings loopback up there
#   fail MESSAGE                       prints "FAIL: MESSAGE" and ends the script
#   hex TEXT                           the bytes of TEXT as lower-case hex, for exact comparisons
#   stop_pid PID                       stops one process by its PID (a frozen one too): SIGCONT,
#                                      SIGTERM, up to 3 s, then SIGKILL; reaps it; empty: nothing
#   wait_until SECONDS CONDITION       polls CONDITION (eval) every 100 ms for up to SECONDS

own_network_namespace() {
  local script=$1
  shift
  if [ "${TW_OWN_NETNS_OF:-}" != "$script" ]; then
    local isolate=(unshare -n)
    [ "$(id -u)" -eq 0 ] || isolate=(unshare -rn)
    exec env TW_OWN_NETNS_OF="$script" "${isolate[@]}" -- bash "$script" "$@"
  fi
  ip link set lo up
}

fail() { echo "FAIL: $*" >&2; exit 1; }
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

stop_pid() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -CONT "$pid" 2>/dev/null || true
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

wait_until() {
  local limit=$(($1 * 10))
  for _ in $(seq "$limit"); do
    if eval "$2"; then return 0; fi
    sleep 0.1
  done
  return 1
}
