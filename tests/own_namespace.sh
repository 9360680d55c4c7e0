# Shared by the system test scripts (sourced, not run).
#
#   own_network_namespace "$0" "$@"   at the top of a script: re-runs the script once inside a
#                                      network namespace of its own (unshare -n, or -rn when
#                                      not root), so nothing it sends can leave the machine,
#                                      and brings loopback up there
#   fail MESSAGE                       prints "FAIL: MESSAGE" and ends the script
#   hex TEXT                           the bytes of TEXT as lower-case hex, for exact comparisons

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
