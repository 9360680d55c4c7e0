#!/bin/sh
# Builds the Windows Installer package from tempwarden.exe with Debian's wixl, sets what wixl
# cannot (msibuild), and signs the program and the package when a certificate is given.
#
# usage: make_msi.sh SOURCE_DIR EXE VERSION OUT.msi [ACTION_DLL]
#   ACTION_DLL: tw_msi_action.dll, the custom action (default: beside EXE).
#   VERSION: the program's a.b.c.d; the package carries a.b.c (Windows Installer compares no
#   more), and a product code derived from it, the same for every build of one version.
#   TW_SIGN_PKCS12, TW_SIGN_PASSWORD: the code-signing certificate (PKCS#12) and its password;
#   TW_SIGN_TIMESTAMP_URL: a time-stamp server (optional). Unset: nothing is signed.
set -eu
src=$(cd "$1" && pwd) exe=$2 version=$3 out=$4 dll=${5:-$(dirname "$2")/tw_msi_action.dll}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
msi_version=$(printf '%s\n' "$version" | cut -d. -f1-3)
product_code=$(python3 -c 'import sys, uuid
print(str(uuid.uuid5(uuid.UUID("5f0c8d1e-6b7a-4c39-9e2d-1a4b7c8e9f30"), "Tempwarden " + sys.argv[1])).upper())' "$msi_version")

sign() {  # IN OUT
  if [ -z "${TW_SIGN_PKCS12:-}" ]; then
    cp "$1" "$2"
    return
  fi
  set -- "$@" -pkcs12 "$TW_SIGN_PKCS12" -h sha256 -n Tempwarden
  # The password through a file, not the command line that others can read.
  if [ -n "${TW_SIGN_PASSWORD:-}" ]; then
    printf '%s' "$TW_SIGN_PASSWORD" >"$work/pass"
    set -- "$@" -readpass "$work/pass"
  fi
  [ -z "${TW_SIGN_TIMESTAMP_URL:-}" ] || set -- "$@" -ts "$TW_SIGN_TIMESTAMP_URL"
  in=$1 to=$2
  shift 2
  osslsigncode sign "$@" -in "$in" -out "$to" >"$work/sign.log" 2>&1 ||
    { cat "$work/sign.log" >&2; exit 1; }
}

upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/{\1}/p' "$src/packaging/tempwarden.wxs")

sign "$exe" "$work/tempwarden.exe"
sign "$dll" "$work/tw_msi_action.dll"
# wixl takes the program's path relative to the folder it runs in.
(cd "$work" && wixl -a x64 -D Version="$msi_version" -D ProductCode="$product_code" \
  -D Exe=tempwarden.exe -D ActionDll=tw_msi_action.dll -o unsigned.msi "$src/packaging/tempwarden.wxs" 2>wixl.log) ||
  { cat "$work/wixl.log" >&2; exit 1; }
# The properties reach the elevated part of a managed install only when listed as secure; the
# password never shows in a log. The same version again upgrades (repairs) rather than being
# refused as installed, and the old package goes before anything of the new one is done, so
# that the service it removes is not the new one.
# (One query per call: msibuild runs only the last of several. The Upgrade row's attributes
# are part of its key, so the row is written anew.)
for query in \
  "DELETE FROM Property WHERE Property = 'SecureCustomProperties'" \
  "INSERT INTO Property (Property, Value) VALUES ('SecureCustomProperties', 'UPSHOST;SNMPCOMMUNITY;SMTPRELAY;SMTPPORT;SMTPSECURITY;EMAILFROM;EMAILTO;EMAILCC;ALARMTEMP;SMTPPASSWORD;WIX_UPGRADE_DETECTED;WIX_DOWNGRADE_DETECTED')" \
  "INSERT INTO Property (Property, Value) VALUES ('MsiHiddenProperties', 'SMTPPASSWORD;TwSettings')" \
  "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" \
  "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('$upgrade_code', '$msi_version', 513, 'WIX_UPGRADE_DETECTED')" \
  "UPDATE InstallExecuteSequence SET Sequence = 1501 WHERE Action = 'RemoveExistingProducts'" \
  "UPDATE CustomAction SET Type = 11265 WHERE Action = 'TwSettings'" \
  "UPDATE CustomAction SET Type = 8243 WHERE Action = 'TwSettingsData'"; do
  msibuild "$work/unsigned.msi" -q "$query" >"$work/msibuild.log" 2>&1 ||
    { echo "msibuild: $query" >&2; cat "$work/msibuild.log" >&2; exit 1; }
done
sign "$work/unsigned.msi" "$out"
