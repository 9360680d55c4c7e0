#!/usr/bin/env bash
# The manual pages: both format without a word from man or groff (at the width of a terminal
# and of lintian's check), every settings key the program reads is described in
# tempwarden.xml(5), and every switch the command line knows is in tempwarden(8). The keys come
# from the reader's table in toolbelt/config.cc (and any single-key read elsewhere), the
# switches from the names service/program.cc compares with, so a new key or switch without
# its documentation fails here.
#
# usage: bash tests/man_pages_test.sh BUILD_DIR   (the build directory is not used)
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"

command -v man >/dev/null || skip "man is not installed (man-db)"
MAN8="$SRC/docs/man/tempwarden.8"
MAN5="$SRC/docs/man/tempwarden.xml.5"

for page in "$MAN8" "$MAN5"; do
  for width in 80 120; do
    said=$(LC_ALL=C.UTF-8 MANWIDTH=$width man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$said" ] || fail "man --warnings on ${page#"$SRC"/} at width $width: $said"
  done
  ! grep -nE '[[:space:]]$' "$page" || fail "trailing blanks in ${page#"$SRC"/}"
done

# The pages as text, one paragraph per line and without hyphenation, so a name is never cut.
render() { LC_ALL=C.UTF-8 MANWIDTH=2000 MANROFFOPT='-rHY=0' man -E UTF-8 -l "$1" 2>/dev/null; }

keys=$( (sed -n 's/^ *{"\([A-Za-z0-9]*\)", .*/\1/p' "$SRC/toolbelt/config.cc"
  grep -rhoE --include='*.cc' --exclude='*_test.cc' --exclude='*_fuzz.cc' --exclude='*_bench.cc' \
    'GetParamFromXMLFile\([^;]*"[A-Za-z0-9]+"' "$SRC"/service "$SRC"/ups "$SRC"/toolbelt |
    grep -oE '"[A-Za-z0-9]+"$' | tr -d '"' || true) | sort -u)
[ -n "$keys" ] || fail "no settings key found in toolbelt/config.cc: the extraction needs mending"
text5=$(render "$MAN5")
for key in $keys; do
  grep -qE "(^|[^A-Za-z0-9])$key([^A-Za-z0-9]|$)" <<<"$text5" ||
    fail "the settings key $key is not described in tempwarden.xml(5)"
done

# Switch names as program.cc compares them (upper case after the "/" or "-"), and any switch
# it spells out whole ("--help").
switches=$( (grep -oE '== "[A-Z?]+"' "$SRC/service/program.cc" | grep -oE '[A-Z?]+'
  grep -oE '"(--?|/)[A-Za-z?]+"' "$SRC/service/program.cc" | tr -d '"' | sed -E 's,^(--?|/),,' ||
    true) |
  tr '[:upper:]' '[:lower:]' | sort -u)
[ -n "$switches" ] || fail "no switch found in service/program.cc: the extraction needs mending"
text8=$(render "$MAN8" | tr '[:upper:]' '[:lower:]')
for sw in $switches; do
  grep -qF -e "/$sw" -e "-$sw" <<<"$text8" || fail "the switch $sw is not in tempwarden(8)"
done
echo "PASS: both pages format cleanly; $(wc -w <<<"$keys") keys and $(wc -w <<<"$switches") switches documented"
