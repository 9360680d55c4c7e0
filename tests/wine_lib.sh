# What the Wine tests share: the run in network, pid and mount namespaces of their own, and a
# fresh 64-bit Wine prefix in a work folder that goes at the end. Sourced after tests/lib.sh.

# Re-runs the calling script inside the namespaces, unless it runs there already; skips where
# Wine, the Windows build (each FILE given) or the namespaces are missing. The Windows build is
# looked for in BUILD/../build-win, then in build-win of this source tree (TW_WIN_BUILD_DIR
# overrides); inside, TW_WIN_BUILD_DIR names it. --kill-child: when the test is killed (a ctest
# timeout), the namespace's first process (the script, which then cleans up) gets SIGTERM, and
# with it ends every process inside.
# usage: wine_isolate BUILD "FILE..." SCRIPT ARGS...
wine_isolate() {
  local win_build=${TW_WIN_BUILD_DIR:-$1/../build-win} files=$2 script=$3 f isolate
  shift 3
  [ -z "${TW_WINE_TEST_INNER:-}" ] || return 0
  # A build directory elsewhere: the cross build of this source tree.
  [ -n "${TW_WIN_BUILD_DIR:-}" ] || [ -f "$win_build/tempwarden.exe" ] ||
    win_build=$(dirname "${BASH_SOURCE[0]}")/../build-win
  command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 ||
    skip "Wine is not installed (Debian packages wine, wine64)"
  for f in $files; do
    [ -f "$win_build/$f" ] || skip "no Windows build in $win_build ($files)"
  done
  isolate=(unshare -n -p -m --fork --mount-proc --kill-child=SIGTERM)
  [ "$(id -u)" -eq 0 ] || isolate=(unshare -r -n -p -m --fork --mount-proc --kill-child=SIGTERM)
  "${isolate[@]}" true 2>/dev/null || skip "cannot create network, pid and mount namespaces here"
  exec env TW_WINE_TEST_INNER=1 TW_WIN_BUILD_DIR="$(cd "$win_build" && pwd)" \
    "${isolate[@]}" -- bash "$script" "$@"
}

# Sets WORK and WINEPREFIX (WORK/prefix) with Wine's caches, settings and temporary files
# inside WORK, and no display; at the end the prefix's Wine is stopped and WORK removed
# (kept with TW_KEEP_WORK set).
wine_prefix() {
  WORK=$(mktemp -d)
  export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export TMPDIR="$WORK/tmp" XDG_CACHE_HOME="$WORK/cache" XDG_CONFIG_HOME="$WORK/config"
  export XDG_DATA_HOME="$WORK/data"
  unset DISPLAY WAYLAND_DISPLAY LC_ALL LOCPATH
  export LANG=C.UTF-8
  mkdir -p "$WINEPREFIX" "$TMPDIR" "$WORK/agent"
  at_exit 'if [ -n "${TW_KEEP_WORK:-}" ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi'
  at_exit 'wineserver -k >/dev/null 2>&1 || true'  # this test's prefix only
}
