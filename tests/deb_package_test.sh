#!/usr/bin/env bash
# The Debian package that CPack builds: its control fields and files (dpkg-deb), the unit it
# ships through systemd-analyze verify and security, and its life on a system: installed with
# dpkg (the account created, the directory given to it), removed (the program and unit gone,
# configuration and history kept, the service disabled) and purged (all gone).
#
# dpkg runs in a mount namespace of its own in which /etc, the dpkg database, /opt, /var/log and
# the system unit directory are private copies, so the machine's own system is never touched;
# no systemd runs there, so nothing starts. Network namespace of its own as well.
# usage: bash tests/deb_package_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: deb_package_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"
# shellcheck source=tests/private_etc.sh
source "$HERE/private_etc.sh"
for tool in cpack dpkg-deb dpkg-shlibdeps systemd-analyze python3; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ -f "$BUILD/CPackConfig.cmake" ] || skip "no CPack configuration in $BUILD"
own_etc "$0" "$@"
own_network_namespace "$0" "$@"
# shellcheck source=tests/systemd_checks.sh
source "$HERE/systemd_checks.sh"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

echo "-- cpack -G DEB"
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/dist" >"$WORK/cpack.out" 2>&1 \
  || fail "cpack: $(cat "$WORK/cpack.out")"
deb=$(ls "$WORK"/dist/tempwarden_*.deb)
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tempwarden ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[ "$(field Description | head -1)" = "UPS temperature watch service" ] || fail "Description"
[ "$(field Description | wc -l)" -gt 3 ] || fail "no long description"
depends=$(field Depends)
for lib in libc6 libstdc++6 passwd; do
  [[ ", $depends," == *", $lib"[\ ,]* ]] || fail "Depends lacks $lib: $depends"
done
# The notification socket is written to directly: no libsystemd and what it drags in.
[[ ", $depends," != *", libsystemd0"[\ ,]* ]] || fail "Depends has libsystemd0: $depends"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}')
[ "$files" = "-rwxr-xr-x root/root ./opt/tempwarden/tempwarden
-rw-r--r-- root/root ./usr/lib/systemd/system/VOZIvazure.service" ] || fail "files: $files"
for script in postinst prerm postrm; do
  dpkg-deb -I "$deb" "$script" >/dev/null || fail "no $script"
done

echo "-- dpkg on private copies of the system's state"
private_copy() {
  local dir=$1 copy
  copy=$(mktemp -d)
  mount -t tmpfs tw-copy "$copy"
  [ -d "$dir" ] && cp -a "$dir/." "$copy/"
  mkdir -p "$dir"
  mount --bind "$copy" "$dir"
}
private_copy /var/lib/dpkg
private_copy /var/log
private_copy /usr/lib/systemd/system
mount -t tmpfs tw-opt /opt
[ ! -d /run/systemd/system ] || fail "systemd runs here: dpkg would start the service"
getent passwd tempwarden >/dev/null && fail "the private /etc already knows tempwarden"

dpkg -i "$deb" >"$WORK/dpkg.out" 2>&1 || fail "dpkg -i: $(cat "$WORK/dpkg.out")"
getent passwd tempwarden >/dev/null || fail "postinst made no account"
[ "$(stat -c %U:%G "/opt/tempwarden")" = tempwarden:tempwarden ] || fail "directory owner"
[ "$(stat -c %U "/opt/tempwarden/tempwarden")" = root ] || fail "program owner"
check_unit /usr/lib/systemd/system/VOZIvazure.service
cmp -s /usr/lib/systemd/system/VOZIvazure.service "$BUILD/packaging/VOZIvazure.service" \
  || fail "the package ships another unit than the build wrote"

# The packaged unit is the service's registration: INSTALL does not write another over it.
set +e
out=$(/opt/tempwarden/tempwarden /install /silent 2>&1); rc=$?
set -e
[ $rc -ne 0 ] && [ "$out" = 'Service "Tempwarden" failed to install with error: "The specified service already exists."' ] \
  || fail "INSTALL beside the package ($rc): $out"
[ ! -e /etc/systemd/system/VOZIvazure.service ] || fail "INSTALL wrote a unit over the package's"

# What the service would have written, and the link that enabling leaves.
echo "<XML></XML>" >/opt/tempwarden/TEMPWARDEN.XML
echo "x" >/opt/tempwarden/APCUPSTempLog_Today.csv
mkdir -p /etc/systemd/system/multi-user.target.wants
ln -sf /usr/lib/systemd/system/VOZIvazure.service /etc/systemd/system/multi-user.target.wants/

dpkg -r tempwarden >"$WORK/dpkg.out" 2>&1 || fail "dpkg -r: $(cat "$WORK/dpkg.out")"
[ ! -e /opt/tempwarden/tempwarden ] && [ ! -e /usr/lib/systemd/system/VOZIvazure.service ] \
  || fail "remove left the program or the unit"
[ -f /opt/tempwarden/TEMPWARDEN.XML ] && [ -f /opt/tempwarden/APCUPSTempLog_Today.csv ] \
  || fail "remove deleted configuration or history"
[ ! -L /etc/systemd/system/multi-user.target.wants/VOZIvazure.service ] || fail "still enabled"

dpkg -P tempwarden >"$WORK/dpkg.out" 2>&1 || fail "dpkg -P: $(cat "$WORK/dpkg.out")"
[ ! -e /opt/tempwarden ] || fail "purge left $(ls -A /opt/tempwarden)"
echo "PASS"
