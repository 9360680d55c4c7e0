# shellcheck shell=bash
# A booted container for the package tests (sourced, not run): systemd-nspawn --boot over an
# overlay of the machine's own root on a tmpfs that goes with the test, with --private-network,
# so the container has its own loopback and nothing else. Call boot_container after sourcing
# tests/lib.sh, inside a mount namespace and a network namespace of the test's own, with WORK
# set; it sets ROOT (the container's root as seen from here), UPPER (the overlay's upper
# layer: every file the container wrote) and LEADER (its PID 1), and defines in_box and prop.
# Skips (exit 77) with one line where the machine cannot boot a container.

# Runs a command inside the container, in the namespaces of its PID 1, bounded in time.
in_box() {
  timeout --kill-after=5 120 nsenter --target "$LEADER" --mount --uts --ipc --net --pid -- \
    env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    SYSTEMD_PAGER= "$@"
}
# One property of a unit, as systemctl show tells it.
prop() { in_box systemctl show -p "$2" --value "$1"; }

boot_container() {
  local err variant own_pid_ns state="" why="" booted=""
  mkdir -p "$WORK/layer" "$WORK/root"
  mount -t tmpfs -o mode=0755 tw-layer "$WORK/layer"
  at_exit 'umount -l "$WORK/root" "$WORK/layer" 2>/dev/null || true'
  mkdir "$WORK/layer/upper" "$WORK/layer/work"
  err=$(mount -t overlay tw-root -o "lowerdir=/,upperdir=$WORK/layer/upper,workdir=$WORK/layer/work" \
    "$WORK/root" 2>&1) || skip "no overlay of / here: mount -t overlay: $err"
  ROOT=$WORK/root
  # shellcheck disable=SC2034 # for the test that sources this file
  UPPER=$WORK/layer/upper
  [ ! -d /run/systemd/nspawn ] || mount -t tmpfs tw-nspawn /run/systemd/nspawn
  # An empty state for what the machine may have installed, no policy-rc.d of an image build,
  # and the container's journal in its /run.
  rm -rf "$ROOT/etc/tempwarden" "$ROOT/var/lib/tempwarden" "$ROOT/opt/tempwarden" \
    "$ROOT/etc/credstore.encrypted"
  rm -f "$ROOT/usr/sbin/policy-rc.d"
  rm -rf --one-file-system "$ROOT/var/log/journal"
  local variants=("--register=no --keep-unit")
  if [ -d /run/systemd/system ] && [ "$(readlink /proc/self/ns/pid)" = "pid:[4026531836]" ]; then
    variants=("--register=no" "${variants[@]}")
  fi
  LEADER=""
  LEADER_NS=""
  for variant in "${variants[@]}"; do
    # shellcheck disable=SC2086
    systemd-nspawn --quiet --directory="$ROOT" --machine="tw-boot-$$" --boot --private-network \
      $variant --console=read-only -- --unit=basic.target </dev/null >"$WORK/console.log" 2>&1 &
    NSPAWN=$!
    at_exit 'kill_leader'
    track_pid "$NSPAWN" 20
    own_pid_ns=$(readlink /proc/self/ns/pid)
    find_leader() {
      local pid ns
      for pid in $(pgrep -P "$NSPAWN"); do
        ns=$(readlink "/proc/$pid/ns/pid" 2>/dev/null) || continue
        [ "$ns" != "$own_pid_ns" ] || continue
        LEADER=$pid
        LEADER_NS=$ns
        return 0
      done
      return 1
    }
    wait_until 30 'find_leader || ! kill -0 "$NSPAWN" 2>/dev/null' || true
    if [ -n "$LEADER" ]; then
      wait_until 120 'state=$(in_box systemctl is-system-running 2>/dev/null);
        [ "$state" = running ] || [ "$state" = degraded ] || ! kill -0 "$NSPAWN" 2>/dev/null' || true
      if [ "$state" = running ] || [ "$state" = degraded ]; then
        booted=$variant
        break
      fi
    fi
    why="systemd-nspawn --boot $variant: $(grep -v '^$' "$WORK/console.log" | tail -n 1)"
    stop_pid "$NSPAWN" 20
    kill_leader
    LEADER=""
  done
  [ -n "$booted" ] || skip "the machine cannot boot a container: ${why:-no container came up}"
  [ "$(in_box cat /proc/1/comm)" = systemd ] || fail "PID 1 of the container is not systemd"
  in_box ip link set lo up
  echo "booted ($booted), state $state"
}

# The container's PID 1 is killed should it outlive systemd-nspawn.
kill_leader() {
  [ -n "${LEADER:-}" ] && [ "$(readlink "/proc/$LEADER/ns/pid" 2>/dev/null)" = "${LEADER_NS:-}" ] \
    || return 0
  kill -9 "$LEADER" 2>/dev/null || true
}
