#!/usr/bin/env bash
# The Debian package that CPack builds: its control fields and files (dpkg-deb), the units it
# ships through systemd-analyze verify and security, and its life on a system: an upgrade from
# the old layout in /opt/tempwarden (settings, history and logs moved and said so, links left
# behind), a disabled service that a reinstall leaves disabled, removal (the program and units
# gone, settings and history kept), purge (all gone), a fresh installation enabled.
#
# dpkg runs in a mount namespace of its own in which /etc, /var/lib (dpkg's database and
# systemd's state copied), /opt, /usr/sbin, /var/log, the system unit directory, the folders of
# manual pages, documents and lintian overrides and man-db's index are private copies (the
# documents an empty one), so the machine's own system is never touched;
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
[ "$files" = "-rw-r----- root/root ./etc/tempwarden/TEMPWARDEN.XML
-rw-r--r-- root/root ./usr/lib/systemd/system/tempwarden.service
-rw-r--r-- root/root ./usr/lib/systemd/system/tempwarden@.service
-rwxr-xr-x root/root ./usr/sbin/tempwarden
-rw-r--r-- root/root ./usr/share/doc/tempwarden/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/tempwarden/copyright
-rw-r--r-- root/root ./usr/share/lintian/overrides/tempwarden
-rw-r--r-- root/root ./usr/share/man/man5/tempwarden.xml.5.gz
-rw-r--r-- root/root ./usr/share/man/man8/tempwarden.8.gz" ] || fail "files: $files"
for script in preinst postinst prerm postrm conffiles; do
  dpkg-deb -I "$deb" "$script" >/dev/null || fail "no $script"
done
[ "$(dpkg-deb -I "$deb" conffiles)" = /etc/tempwarden/TEMPWARDEN.XML ] || fail "conffiles"
cmp -s <(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./etc/tempwarden/TEMPWARDEN.XML) \
  "$BUILD/packaging/TEMPWARDEN.XML" || fail "the settings are not the service's default file"

echo "-- dpkg on private copies of the system's state"
private_copy() {
  local dir=$1 copy
  copy=$(mktemp -d)
  mount -t tmpfs tw-copy "$copy"
  [ -d "$dir" ] && cp -a "$dir/." "$copy/"
  mkdir -p "$dir"
  mount --bind "$copy" "$dir"
}
# /var/lib: an empty tmpfs but for dpkg's database and systemd's state.
keep=$(mktemp -d)
mount -t tmpfs tw-keep "$keep"
cp -a /var/lib/dpkg "$keep/"
[ ! -d /var/lib/systemd ] || cp -a /var/lib/systemd "$keep/"
mount -t tmpfs -o mode=0755 tw-var-lib /var/lib
cp -a "$keep/." /var/lib/
private_copy /var/log
private_copy /usr/lib/systemd/system
private_copy /usr/sbin
# The package's documents, and the manual pages' index that man-db's trigger writes.
mount -t tmpfs -o mode=0755 tw-doc /usr/share/doc
for dir in /usr/share/man/man5 /usr/share/man/man8 /usr/share/lintian/overrides /var/cache/man; do
  private_copy "$dir"
done
mount -t tmpfs tw-opt /opt
[ ! -d /run/systemd/system ] || fail "systemd runs here: dpkg would start the service"
getent passwd tempwarden >/dev/null && fail "the private /etc already knows tempwarden"
WANTS=/etc/systemd/system/multi-user.target.wants

echo "-- the old layout: everything in /opt/tempwarden, the unit VOZIvazure.service"
old="$WORK/old"
old_layout_deb "$BUILD" "$old" "$WORK/old.deb"
dpkg -i "$WORK/old.deb" >"$WORK/dpkg.out" 2>&1 || fail "old dpkg -i: $(cat "$WORK/dpkg.out")"
printf '<XML>\r\n<UPSHost>ups-a</UPSHost>\r\n</XML>\r\n' >/opt/tempwarden/TEMPWARDEN.XML
echo "x" >/opt/tempwarden/APCUPSTempLog_Today.csv
echo "y" >/opt/tempwarden/APC-20260101.CSV
chown tempwarden:tempwarden /opt/tempwarden/*
ln -s /etc/shadow /opt/tempwarden/planted.csv
mkdir -p "$WANTS"
ln -sf /usr/lib/systemd/system/VOZIvazure.service "$WANTS/VOZIvazure.service"

echo "-- upgrade to the new layout"
dpkg -i "$deb" >"$WORK/dpkg.out" 2>&1 || fail "dpkg -i: $(cat "$WORK/dpkg.out")"
grep -q "moved the settings from /opt/tempwarden to /etc/tempwarden/TEMPWARDEN.XML and the history and logs to /var/lib/tempwarden" \
  "$WORK/dpkg.out" || fail "the move is not said: $(cat "$WORK/dpkg.out")"
grep -q '<UPSHost>ups-a</UPSHost>' /etc/tempwarden/TEMPWARDEN.XML || fail "settings not moved"
[ "$(stat -c %U:%G:%a /etc/tempwarden/TEMPWARDEN.XML)" = root:tempwarden:640 ] \
  || fail "settings $(stat -c %U:%G:%a /etc/tempwarden/TEMPWARDEN.XML)"
[ "$(stat -c %U:%G:%a /etc/tempwarden)" = root:tempwarden:750 ] || fail "/etc/tempwarden"
[ "$(cat /var/lib/tempwarden/APCUPSTempLog_Today.csv)" = x ] && [ -f /var/lib/tempwarden/APC-20260101.CSV ] \
  || fail "history not moved: $(ls -A /var/lib/tempwarden)"
[ ! -e /var/lib/tempwarden/planted.csv ] && [ ! -L /var/lib/tempwarden/planted.csv ] || fail "a link was moved"
[ "$(stat -c %U:%G:%a /var/lib/tempwarden)" = tempwarden:tempwarden:750 ] || fail "data directory"
[ "$(stat -c %U:%a /usr/sbin/tempwarden)" = root:755 ] || fail "program"
[ -L "$WANTS/tempwarden.service" ] || fail "the enabled service is not enabled under its new name"
[ ! -e "$WANTS/VOZIvazure.service" ] || fail "the old link stays"
for unit in tempwarden.service tempwarden@.service; do
  cmp -s "/usr/lib/systemd/system/$unit" "$BUILD/packaging/$unit" \
    || fail "the package ships another $unit than the build wrote"
done
check_unit /usr/lib/systemd/system/tempwarden.service

# The packaged unit is the service's registration: INSTALL does not write another over it.
set +e
out=$(/usr/sbin/tempwarden /install /silent 2>&1); rc=$?
set -e
[ $rc -ne 0 ] && [ "$out" = 'Service "Tempwarden" failed to install with error: "The specified service already exists."' ] \
  || fail "INSTALL beside the package ($rc): $out"
[ ! -e /etc/systemd/system/tempwarden.service ] || fail "INSTALL wrote a unit over the package's"

echo "-- a disabled service stays disabled across a reinstall"
rm -f "$WANTS/tempwarden.service" /etc/systemd/system/VOZIvazure.service  # systemctl disable
dpkg -i "$deb" >"$WORK/dpkg.out" 2>&1 || fail "reinstall: $(cat "$WORK/dpkg.out")"
[ ! -e "$WANTS/tempwarden.service" ] || fail "the reinstall enabled the disabled service"
grep -q '<UPSHost>ups-a</UPSHost>' /etc/tempwarden/TEMPWARDEN.XML || fail "reinstall lost the settings"

echo "-- remove keeps settings and history, purge removes them"
dpkg -r tempwarden >"$WORK/dpkg.out" 2>&1 || fail "dpkg -r: $(cat "$WORK/dpkg.out")"
[ ! -e /usr/sbin/tempwarden ] && [ ! -e /usr/lib/systemd/system/tempwarden.service ] \
  || fail "remove left the program or the unit"
[ -f /etc/tempwarden/TEMPWARDEN.XML ] && [ -f /var/lib/tempwarden/APCUPSTempLog_Today.csv ] \
  || fail "remove deleted configuration or history"
dpkg -P tempwarden >"$WORK/dpkg.out" 2>&1 || fail "dpkg -P: $(cat "$WORK/dpkg.out")"
[ ! -e /var/lib/tempwarden ] && [ ! -e /etc/tempwarden ] || fail "purge left files"

echo "-- a fresh installation is enabled, with the alias of the old name"
dpkg -i "$deb" >"$WORK/dpkg.out" 2>&1 || fail "fresh dpkg -i: $(cat "$WORK/dpkg.out")"
[ -L "$WANTS/tempwarden.service" ] || fail "a new installation is not enabled"
[ -L /etc/systemd/system/VOZIvazure.service ] || fail "no alias of the old name"
[ "$(stat -c %U:%G:%a /etc/tempwarden/TEMPWARDEN.XML)" = root:tempwarden:640 ] || fail "settings mode"
dpkg -P tempwarden >"$WORK/dpkg.out" 2>&1 || fail "dpkg -P: $(cat "$WORK/dpkg.out")"
echo "PASS"
