#!/usr/bin/env bash
# The release builds as the platforms' own checks see them: lintian on the Debian package (no
# error, no warning; of the notes only the systemd-only one, the rest are overridden with their
# reasons), its size, hardening-check and man --warnings on what it installs, the Windows
# program's DllCharacteristics (when the cross build is there), and a core of the packaged,
# stripped program in which gdb finds the project's functions through the debug file that the
# build keeps, looked up by build id.
#
# Network namespace of its own; the service started here is stopped by its PID.
# usage: bash tests/release_checks_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: release_checks_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"
for tool in cpack dpkg-deb dpkg-shlibdeps lintian hardening-check man gdb readelf; do
  command -v "$tool" >/dev/null || skip "$tool is missing (./test.sh installs it)"
done
[ -f "$BUILD/CPackConfig.cmake" ] || skip "no CPack configuration in $BUILD"
[ -f "$BUILD/tempwarden.debug" ] || skip "no tempwarden.debug in $BUILD (not a Linux build)"
own_network_namespace "$0" "$@"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

echo "-- cpack -G DEB"
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/dist" >"$WORK/cpack.out" 2>&1 \
  || fail "cpack: $(cat "$WORK/cpack.out")"
deb=$(ls "$WORK"/dist/tempwarden_*.deb)
size=$(stat -c %s "$deb")
[ "$size" -lt 1500000 ] || fail "the package weighs $size bytes"

echo "-- lintian"
lintian --pedantic -E -I --fail-on error,warning "$deb" >"$WORK/lintian.out" 2>&1 \
  || fail "lintian: $(cat "$WORK/lintian.out")"
# The unit alone starts the service: no init.d script, on purpose.
systemd_only='I: tempwarden: package-supports-alternative-init-but-no-init.d-script'
systemd_only+=' [usr/lib/systemd/system/tempwarden.service]'
unexpected=$(grep -E '^[A-Z]: ' "$WORK/lintian.out" | grep -vxF "$systemd_only" || true)
[ -z "$unexpected" ] || fail "lintian: $unexpected"

ROOT="$WORK/root"
dpkg-deb -x "$deb" "$ROOT"
PROGRAM="$ROOT/usr/sbin/tempwarden"

echo "-- hardening-check"
# Debian 12's C start files (crt1.o, crti.o) carry no IBT/SHSTK property, so no program linked
# there is marked for control-flow protection, Debian's own daemons neither: not asked here.
hardening-check --nocfprotection "$PROGRAM" >"$WORK/hardening.out" 2>&1 ||
  fail "hardening-check: $(cat "$WORK/hardening.out")"

echo "-- man --warnings"
for page in man8/tempwarden.8.gz man5/tempwarden.xml.5.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$ROOT/usr/share/man/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done

echo "-- the Windows program's DllCharacteristics"
win_build=${TW_WIN_BUILD_DIR:-$BUILD/../build-win}
[ -n "${TW_WIN_BUILD_DIR:-}" ] || [ -f "$win_build/tempwarden.exe" ] || win_build="$HERE/../build-win"
if [ -f "$win_build/tempwarden.exe" ]; then
  command -v x86_64-w64-mingw32-objdump >/dev/null || fail "x86_64-w64-mingw32-objdump is missing"
  headers=$(x86_64-w64-mingw32-objdump -p "$win_build/tempwarden.exe")
  for flag in DYNAMIC_BASE NX_COMPAT HIGH_ENTROPY_VA; do
    grep -qx "[[:space:]]*$flag" <<<"$headers" || fail "tempwarden.exe lacks $flag"
  done
else
  echo "no Windows build in $win_build: not checked"
fi

echo "-- a core of the packaged program, read with the debug file"
build_id=$(readelf -n "$PROGRAM" | sed -n 's/^ *Build ID: //p')
[ "$(readelf -n "$BUILD/tempwarden.debug" 2>/dev/null | sed -n 's/^ *Build ID: //p')" = "$build_id" ] ||
  fail "the debug file is not the packaged program's (build id $build_id)"
mkdir -p "$WORK/debug/.build-id/${build_id:0:2}"
cp "$BUILD/tempwarden.debug" "$WORK/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
# The service in a folder of its own, asking a UPS that never answers in this namespace.
mkdir "$WORK/svc"
cp "$PROGRAM" "$WORK/svc/tempwarden"
write_settings "$WORK/svc/TEMPWARDEN.XML" UPSHost=127.0.0.1 SysLogTrap=7 PhoneHomeServer=
start_bg "$WORK/svc/tempwarden" -console >"$WORK/svc/console.out" 2>&1
pid=$!
wait_until 10 'compgen -G "$WORK/svc/APC-*.CSV" >/dev/null' ||
  fail "the service did not start: $(cat "$WORK/svc/console.out")"
gdb_batch() { gdb -nx -batch -iex 'set debuginfod enabled off' -iex 'set auto-load off' "$@"; }
gdb_batch -p "$pid" -ex "generate-core-file $WORK/core" >"$WORK/gcore.out" 2>&1 ||
  fail "no core: $(cat "$WORK/gcore.out")"
stop_pid "$pid"
backtrace() {  # DEBUG_FILE_DIRECTORY
  gdb_batch -iex "set debug-file-directory $1" -ex "file $PROGRAM" -ex "core-file $WORK/core" \
    -ex 'thread apply all bt' 2>&1
}
# The stripped program alone names none of its own functions; with the debug file, the
# service's threads show them.
without=$(backtrace "$WORK/nothing")
! grep -q 'tw::' <<<"$without" || fail "the packaged program is not stripped: $without"
with=$(backtrace "$WORK/debug")
frame=$(grep -m1 -o 'in tw::[A-Za-z:_]*' <<<"$with") ||
  fail "no function of the project in the core: $with"
echo "found: $frame"
echo "PASS"
