# shellcheck shell=bash
# The one library of the system test scripts and demo.sh (sourced, not run). Sourcing it sets
# the traps: EXIT runs the clean-up below, INT and TERM end the script through it (the first
# process of a pid namespace ignores the signals it has no handler for).
#
#   own_network_namespace "$0" "$@"   at the top of a script: re-runs the script once inside a
#                                      network namespace of its own (unshare -n, or -rn when
#                                      not root), so nothing it sends can leave the machine,
#                                      and brings loopback up there
#   fail MESSAGE                       prints "FAIL: MESSAGE" and ends the script (status 1);
#                                      a function on_fail, when the script has one, runs after
#                                      the message (to show what the test saw)
#   skip MESSAGE                       prints "SKIP: MESSAGE" and ends the script with status
#                                      77, which ctest counts as skipped
#   hex TEXT                           the bytes of TEXT as lower-case hex, for exact comparisons
#   wait_until SECONDS CONDITION       polls CONDITION (eval) every 100 ms until it holds (0) or
#                                      SECONDS have passed (1); it is tried once more at the end
#   stop_pid PID [SECONDS]             stops one process by its PID (a frozen one too): SIGCONT,
#                                      SIGTERM, up to SECONDS (3), then SIGKILL; reaps it;
#                                      an empty PID: nothing
#   start_bg COMMAND...                starts COMMAND in the background (redirections apply)
#                                      and tracks it; $! is its PID as usual
#   track_pid PID [SECONDS]            tracks a process started otherwise (e.g. a subshell);
#                                      SECONDS: its grace at the end (stop_pid's, 3)
#   at_exit COMMAND                    runs COMMAND (eval) at the script's end
#   write_settings FILE KEY=VALUE...   writes a settings file (TEMPWARDEN.XML): <XML>, one line
#                                      "  <KEY>VALUE</KEY>" per pair in the order given, </XML>,
#                                      LF line ends; an argument starting with "<!--" is written
#                                      as a comment line of its own
#
# At the end, whatever ends the script: the tracked processes and the at_exit commands, last
# first (so the files a process writes outlive it, and a process started late, such as the
# service, stops before the peers it talks to). A tracked process is stopped with stop_pid
# only while it is still a child of this shell: one that ended and was reaped is left alone,
# whatever process may have its number by then.

TW_AT_EXIT=()

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

fail() {
  echo "FAIL: $*" >&2
  if declare -F on_fail >/dev/null; then on_fail || true; fi
  exit 1
}
skip() { echo "SKIP: $*"; exit 77; }
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

# Microseconds since the epoch, without a process (the decimal mark follows the locale).
tw_now_us() { echo "${EPOCHREALTIME//[!0-9]/}"; }

# The names are unusual so that CONDITION, evaluated here, sees the caller's variables.
wait_until() {
  local __tw_deadline=$(($(tw_now_us) + $1 * 1000000))
  while :; do
    if eval "$2"; then return 0; fi
    [ "$(tw_now_us)" -lt "$__tw_deadline" ] || return 1
    sleep 0.1
  done
}

stop_pid() {
  local pid=$1 grace=${2:-3}
  [ -n "$pid" ] || return 0
  kill -CONT "$pid" 2>/dev/null || true
  kill "$pid" 2>/dev/null || true
  wait_until "$grace" '! kill -0 "$pid" 2>/dev/null' || true
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Whether PID is a process of which this shell is the parent.
tw_is_child() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }  # the fields after the command name, which may hold anything
  # shellcheck disable=SC2086
  set -- $stat
  [ "${2:-}" = "$BASHPID" ]
}

track_pid() { TW_AT_EXIT+=("! tw_is_child $1 || stop_pid $1 ${2:-}"); }
start_bg() {
  "$@" &
  track_pid "$!"
}
at_exit() { TW_AT_EXIT+=("$1"); }

tw_exit() {
  local status=$? i
  set +e
  trap '' INT TERM
  for ((i = ${#TW_AT_EXIT[@]} - 1; i >= 0; i--)); do
    eval "${TW_AT_EXIT[i]}"
  done
  exit "$status"
}
trap tw_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

write_settings() {
  local file=$1 pair text=$'<XML>\n'
  shift
  for pair in "$@"; do
    case "$pair" in
      '<!--'*) text+="  $pair"$'\n' ;;
      *=*[\<\&]*) fail "write_settings: a value with < or & would need escaping: $pair" ;;
      *=*) text+="  <${pair%%=*}>${pair#*=}</${pair%%=*}>"$'\n' ;;
      *) fail "write_settings: KEY=VALUE wanted, got: $pair" ;;
    esac
  done
  printf '%s</XML>\n' "$text" >"$file"
}

# Sets SVC to a new folder WORK/svc (WORK set already) holding a copy of the program in
# BUILD_DIR, for a service that runs in a folder of its own.
# usage: service_copy BUILD_DIR
service_copy() {
  SVC="$WORK/svc"
  mkdir "$SVC"
  cp "$1/tempwarden" "$SVC/"
}

# A row of a case table, "KEY=VALUE... expected text": the leading KEY=VALUE words into the
# array SETTINGS, the rest (words joined by one blank) into EXPECTATION.
split_case() {
  local word words
  SETTINGS=() EXPECTATION=
  read -ra words <<<"$1"
  for word in "${words[@]}"; do
    if [ -z "$EXPECTATION" ] && [[ "$word" =~ ^[A-Za-z]+= ]]; then
      SETTINGS+=("$word")
    else
      EXPECTATION+="${EXPECTATION:+ }$word"
    fi
  done
}

# A package of the old layout, built in DIR into OUT: version 0.9, the program and everything
# it writes in /opt/tempwarden, the unit VOZIvazure.service, the account made by its postinst;
# what upgrades start from.
old_layout_deb() {  # BUILD_DIR DIR OUT
  local old=$2
  mkdir -p "$old/DEBIAN" "$old/opt/tempwarden" "$old/usr/lib/systemd/system"
  cp "$1/tempwarden" "$old/opt/tempwarden/tempwarden"
  printf '[Service]\nExecStart=/opt/tempwarden/tempwarden\n[Install]\nWantedBy=multi-user.target\n' \
    >"$old/usr/lib/systemd/system/VOZIvazure.service"
  printf '%s\n' "Package: tempwarden" "Version: 0.9" "Architecture: $(dpkg --print-architecture)" \
    "Maintainer: Brindle Tempwarden team <tempwarden@brindle.invalid>" \
    "Description: UPS temperature watch service" "Depends: passwd" >"$old/DEBIAN/control"
  printf '%s\n' '#!/bin/sh' 'set -e' \
    'getent passwd tempwarden >/dev/null || useradd --system --user-group --home-dir /opt/tempwarden --no-create-home --shell /usr/sbin/nologin tempwarden' \
    'chown tempwarden:tempwarden /opt/tempwarden' >"$old/DEBIAN/postinst"
  chmod 755 "$old/DEBIAN/postinst"
  dpkg-deb --root-owner-group -b "$old" "$3" >/dev/null
}
