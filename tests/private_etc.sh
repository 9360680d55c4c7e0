# Shared by the system test scripts that create accounts (sourced, not run).
#
#   own_etc "$0" "$@"   at the top of a script, before own_network_namespace: re-runs the
#                       script once inside a mount namespace of its own in which /etc is a
#                       private copy on a tmpfs, so that useradd changes nothing on the machine;
#                       the copy goes away with the namespace. Needs root (else skipped).
# Needs tests/lib.sh.

own_etc() {
  local script=$1
  shift
  if [ "${TW_OWN_ETC_OF:-}" != "$script" ]; then
    if [ "$(id -u)" -ne 0 ]; then
      skip "creating the service's account in a private /etc needs root"
    fi
    exec env TW_OWN_ETC_OF="$script" unshare -m --propagation private -- bash "$script" "$@"
  fi
  [ -z "${TW_OWN_ETC_DONE:-}" ] || return 0
  local copy
  copy=$(mktemp -d)
  mount -t tmpfs -o mode=0755 tw-etc "$copy"
  cp -a /etc/. "$copy/"
  mount --bind "$copy" /etc
  export TW_OWN_ETC_DONE=1
}
