#!/usr/bin/env bash
# The chart pages in a real browser: the service's own code records three days of samples into
# a test directory (one run with "." and one with "," as decimal mark), and Debian's chromium,
# driven by playwright-core, opens a day page and the annual page of each run. The charting
# library's loader is answered by a stand-in that records what the page hands it; the check
# wants no script error, one draw and exactly the rows of the CSV file. Screenshots go to
# BUILD_DIR/test-output/chart_page_test/.
#
# Runs in a network namespace of its own so the browser cannot reach any other host.
#
# usage: bash tests/chart_page_test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: chart_page_test.sh BUILD_DIR}" && pwd)
SRC=$(cd "$(dirname "$0")/.." && pwd)
PROBE="$BUILD/tw_ups_probe"

# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
own_network_namespace "$0" "$@"


[ -x "$PROBE" ] || fail "missing $PROBE"
[ -x /usr/bin/chromium ] || fail "chromium is not installed (./test.sh installs it)"
[ -d "$SRC/tests/browser/node_modules/playwright-core" ] ||
  fail "playwright-core is not installed: run 'npm ci' in tests/browser (./test.sh does)"

WORK=$(mktemp -d)
at_exit 'rm -rf "$WORK"'
OUT="$BUILD/test-output/chart_page_test"
rm -rf "$OUT"
mkdir -p "$OUT" "$WORK/en" "$WORK/de"

"$PROBE" pages "$WORK/en" english >/dev/null || fail "english run"
"$PROBE" pages "$WORK/de" german >/dev/null || fail "german run"
for dir in "$WORK/en" "$WORK/de"; do
  [ -z "$(find "$dir" -name 'E!*')" ] || fail "exception reports in $dir"
done
# The comma-decimal files really hold comma decimals.
grep -q '^1,00:05,[0-9]*,[0-9]*'$'\r''$' "$WORK/de/APCUPSTempLog_20250311.csv" ||
  fail "no comma-decimal rows in the german day file"

cd "$SRC/tests/browser"
node chart_page_check.mjs "$OUT" \
  "day-en=$WORK/en/APCUPSTempLog_20250311.html=$WORK/en/APCUPSTempLog_20250311.csv=." \
  "annual-en=$WORK/en/APCUPSTempLog_2025.html=$WORK/en/APCUPSTempLog_2025.csv=." \
  "day-de=$WORK/de/APCUPSTempLog_20250311.html=$WORK/de/APCUPSTempLog_20250311.csv=," \
  "today-de=$WORK/de/APCUPSTempLog_Today.html=$WORK/de/APCUPSTempLog_20250313.csv=," \
  "annual-de=$WORK/de/APCUPSTempLog_2025.html=$WORK/de/APCUPSTempLog_2025.csv=,"
ls "$OUT"
echo "PASS"
