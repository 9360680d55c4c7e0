#!/usr/bin/env bash
# Sets up everything the tests need from Debian's archive (skipping what is installed), builds
# the Linux program, a sanitizer build and the Windows cross build, then runs every test inside
# a private network namespace so that no test can reach the real network.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64
  iproute2 util-linux
  rsyslog  # diagnostics: real syslog receiver of tests/syslog_test.sh
  python3-aiosmtpd  # mail: the SMTP relay of the mail tests
  spamassassin  # mail: scores the test mail and the alarm (tests/spam_score_test.sh)
  postfix dovecot-core  # mail: the company relay and its SASL (tests/postfix_relay_test.sh)
  libidn12 libgnutls-dane0 libnsl2 libdb5.3  # mail: the libraries of the unpacked Exim (below)
  libssl-dev openssl  # mail TLS and SNMPv3 crypto (OpenSSL); openssl makes the tests' certificates
  nlohmann-json3-dev  # mail: the OAuth token answers (JSON, header-only, also for the mingw build)
  snmpd snmp  # SNMP query: Debian's agent stands in for the UPS card in the tests
  python3-pysnmp4 snmpsim  # SNMP query: two more agents of other people (tests/python_agents_test.sh)
  nftables  # SNMP query: random loss in the kernel where netem is missing (tests/packet_loss_test.sh)
  chromium  # ups: the browser of tests/chart_page_test.sh
  wine wine64 locales  # windows: the .exe under Wine's service manager (locales: de_DE for it)
  faketime  # service: libfaketime sets the clock of tests/service_e2e_test.sh, prompt_stop_test.sh
  systemd  # install: systemd-analyze for the unit tests
  systemd-container  # install: systemd-nspawn boots the package's test system (nspawn_boot_test)
  dpkg-dev file  # install: dpkg-shlibdeps and file, the package's library dependencies (cpack)
  nsis  # install: makensis builds the Windows installer
  wixl msitools  # install: wixl and msibuild build the Windows Installer package (target msi)
  osslsigncode  # install: Authenticode signatures of the program and the package
  passwd  # install: useradd, the service's account
  strace  # install: what the service does, held against its systemd sandbox
  lintian  # install: Debian's checks of the package (tests/release_checks_test.sh)
  devscripts  # install: hardening-check on the packaged program (tests/release_checks_test.sh)
  man-db groff-base  # install: man --warnings on the packaged manual pages
  gdb  # install: a core of the packaged program read with its debug file
  binutils-mingw-w64-x86-64  # windows: objdump -p, the .exe's DllCharacteristics
  clang-format  # the C++ layout check below
  prometheus prometheus-node-exporter curl  # service: the metrics file scraped and queried, promtool (tests/prometheus_metrics_test.sh)
)

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
# Node.js and npm run the browser test's driver; a machine without them takes Debian's.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo_if_needed apt-get update
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

# The browser test's driver (playwright-core, no browser download) comes from the npm registry,
# which the tests' private namespace cannot reach.
echo "== browser test driver"
(cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
# The foreign SNMP agent of tests/foreign_agents_test.sh (the npm package net-snmp), likewise.
(cd tests/npm_agent && npm ci --no-audit --no-fund --loglevel=error)
# Debian's Exim for tests/exim_relay_test.sh: its package conflicts with postfix (each is the
# machine's MTA), so it is unpacked under build/exim, not installed.
if [ ! -x build/exim/usr/sbin/exim4 ]; then
  echo "== Exim, unpacked for the relay test"
  rm -rf build/exim-debs && mkdir -p build/exim-debs
  get_exim() { (cd build/exim-debs && apt-get download exim4-daemon-light exim4-base); }
  # Package lists never fetched on this machine (every package above was there): once more.
  get_exim || { sudo_if_needed apt-get update && get_exim; } ||
    echo "Exim could not be downloaded: tests/exim_relay_test.sh skips"
  for deb in build/exim-debs/*.deb; do [ -f "$deb" ] && dpkg-deb -x "$deb" build/exim; done
fi

echo "== C++ layout (.clang-format)"
find . \( -path './build*' -o -path './dist' -o -path '*/node_modules' -o -path './.git' \) -prune \
  -o \( -name '*.cc' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run --Werror

echo "== Linux build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
echo "== sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON >/dev/null
cmake --build build-asan
echo "== Windows cross build"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win
test -f build-win/tempwarden.exe
# Signed when TW_SIGN_PKCS12 and TW_SIGN_PASSWORD name a certificate (packaging/make_msi.sh);
# tests/signed_msi_test.sh signs with a throwaway one of its own test CA and verifies both.
cmake --build build-win --target msi

echo "== packages into dist/"
rm -rf dist
cpack --config build/CPackConfig.cmake -G DEB -B dist >/dev/null
rm -rf dist/_CPack_Packages
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win/CMakeCache.txt)
# The program's debug information, which the package's stripped program finds by build id.
cp build/tempwarden.debug dist/
cp build-win/tempwarden-setup.exe "build-win/tempwarden-$version-x64.msi" dist/
ls -l dist

echo "== tests (private network namespace)"
isolate=(unshare -n)
[ "$(id -u)" -eq 0 ] || isolate=(unshare -rn)
"${isolate[@]}" -- bash -c '
  set -euo pipefail
  ip link set lo up
  ctest --test-dir build --output-on-failure -j2 -LE year
  ctest --test-dir build-asan -L unit --output-on-failure -j2
  echo "== the simulated year, alone on the machine (its figures)"
  ctest --test-dir build -L year --verbose
'
echo "== all tests passed"
