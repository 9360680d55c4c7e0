#!/usr/bin/env bash
# The Windows Installer package as packaging/make_msi.sh builds it from the cross-built
# program: what wixl cannot write is in its tables (secure and hidden properties, the same
# version again as an upgrade, the old package removed first, the settings action's hidden
# command line); with a code-signing certificate of a throwaway CA in the environment, the
# program inside the package and the package itself carry Authenticode SHA-256 signatures that
# `osslsigncode verify` accepts against that CA; without one, neither is signed.
# Runs nothing that touches a network.
# usage: bash tests/signed_msi_test.sh BUILD_DIR
set -euo pipefail
[ -z "${TW_TRACE:-}" ] || set -x
BUILD=$(cd "${1:?usage: signed_msi_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$HERE/lib.sh"

WIN=${TW_WIN_BUILD_DIR:-$BUILD/../build-win}
[ -f "$WIN/tempwarden.exe" ] || WIN=$HERE/../build-win
[ -f "$WIN/tempwarden.exe" ] || skip "no Windows build (build-win/tempwarden.exe)"
[ -f "$WIN/tw_msi_action.dll" ] || skip "no build-win/tw_msi_action.dll (cmake --build build-win)"
for tool in wixl msibuild msiinfo msiextract osslsigncode openssl python3; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (msitools, wixl, osslsigncode)"
done
WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'

echo "-- unsigned: the tables wixl cannot write"
env -u TW_SIGN_PKCS12 -u TW_SIGN_PASSWORD sh "$HERE/../packaging/make_msi.sh" "$HERE/.." \
  "$WIN/tempwarden.exe" 2.3.4.5 "$WORK/unsigned.msi" || fail "make_msi.sh"
table() { msiinfo export "$WORK/unsigned.msi" "$1" | tail -n +4 | tr -d '\r'; }
property() { table Property | awk -F'\t' -v p="$1" '$1 == p { print $2 }'; }
[ "$(property ProductVersion)" = 2.3.4 ] || fail "ProductVersion $(property ProductVersion)"
[ "$(property SecureCustomProperties)" = "UPSHOST;SNMPCOMMUNITY;SMTPRELAY;SMTPPORT;SMTPSECURITY;EMAILFROM;EMAILTO;EMAILCC;ALARMTEMP;SMTPPASSWORD;WIX_UPGRADE_DETECTED;WIX_DOWNGRADE_DETECTED" ] ||
  fail "SecureCustomProperties: $(property SecureCustomProperties)"
[ "$(property MsiHiddenProperties)" = "SMTPPASSWORD;TwSettings" ] || fail "MsiHiddenProperties"
# The same version counts as an upgrade (maximum inclusive, 0x200); a newer one is a downgrade.
table Upgrade | grep -Fx "$(printf '%s\t\t2.3.4\t\t513\t\tWIX_UPGRADE_DETECTED' "$(property UpgradeCode)")" \
  >/dev/null || fail "Upgrade: $(table Upgrade)"
table InstallExecuteSequence | grep -Fx "$(printf 'RemoveExistingProducts\t\t1501')" >/dev/null ||
  fail "RemoveExistingProducts: $(table InstallExecuteSequence)"
# The settings' action: a DLL action (1), deferred (0x400), as the system (0x800), and the
# action that sets its command line: both kept out of logs (0x2000).
for action in TwSettings=11265 TwSettingsData=8243; do
  table CustomAction | awk -F'\t' -v a="${action%=*}" '$1 == a { print $2 }' |
    grep -Fx "${action#*=}" >/dev/null || fail "${action%=*}: $(table CustomAction)"
done
# One version, one product code, so that Intune's detection rule holds for every build of it.
sh "$HERE/../packaging/make_msi.sh" "$HERE/.." "$WIN/tempwarden.exe" 2.3.4.9 "$WORK/again.msi"
[ "$(msiinfo export "$WORK/again.msi" Property | tr -d "\r" | awk -F'\t' '$1 == "ProductCode" { print $2 }')" = \
  "$(property ProductCode)" ] || fail "the product code changed within one version"
if osslsigncode verify -in "$WORK/unsigned.msi" >/dev/null 2>&1; then fail "signed without a certificate"; fi

echo "-- signed with a throwaway certificate of a test CA"
bash "$HERE/make_test_certs.sh" "$WORK/certs" >/dev/null
cd "$WORK/certs"
openssl req -newkey rsa:2048 -nodes -subj "/CN=Tempwarden Test Code Signing" -keyout sign.key \
  -out sign.csr 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" >sign.ext
openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
  -extfile sign.ext -out sign.pem 2>/dev/null
openssl pkcs12 -export -inkey sign.key -in sign.pem -certfile ca.pem -passout pass:throwaway \
  -out sign.p12
cd - >/dev/null
TW_SIGN_PKCS12="$WORK/certs/sign.p12" TW_SIGN_PASSWORD=throwaway \
  sh "$HERE/../packaging/make_msi.sh" "$HERE/.." "$WIN/tempwarden.exe" 2.3.4.5 "$WORK/signed.msi" ||
  fail "make_msi.sh with a certificate"
mkdir "$WORK/files"
(cd "$WORK/files" && msiextract "$WORK/signed.msi" >/dev/null)
exe=$(find "$WORK/files" -name tempwarden.exe)
[ -n "$exe" ] || fail "no tempwarden.exe in the package: $(find "$WORK/files")"
for file in "$exe" "$WORK/signed.msi"; do
  out=$(osslsigncode verify -CAfile "$WORK/certs/ca.pem" -in "$file" 2>&1) ||
    fail "$(basename "$file") does not verify: $out"
  printf '%s\n' "$out" | grep -E "Message digest algorithm *: SHA256" >/dev/null ||
    fail "$(basename "$file"): not SHA-256: $out"
  printf '%s\n' "$out" | grep -F "Tempwarden Test Code Signing" >/dev/null ||
    fail "$(basename "$file"): another signer: $out"
  # Against another CA it must not verify.
  if osslsigncode verify -CAfile "$WORK/certs/other-ca.pem" -in "$file" >/dev/null 2>&1; then
    fail "$(basename "$file") verifies against a CA that did not sign it"
  fi
done
echo "PASS"
