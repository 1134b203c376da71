#!/usr/bin/env bash
# The IPP conformance suites of cups-ipp-utils against a private lblprinter
# printer: no fewer passes and no more failures than ipp-suites.expected
# records (docs/PRINTER-APPLICATION.md says why each failure remains), and
# the printer's identify actions among none of them.
source "$(dirname "$0")/lib.sh"
start_server
add_printer
"$MAKE_RASTER" -m pwg 480x240,fill=label >"$T/page.pwg"
sleep 1  # printer-up-time must be above 0
while read -r suite passed failed; do
  [[ $suite = \#* ]] && continue
  (cd /usr/share/cups/ipptool && ipptool -I -V 2.0 -tf "$T/page.pwg" "$URI" "$suite") >"$T/suite.out" 2>&1 || true
  got_passed=$(grep -c '\[PASS\]' "$T/suite.out" || true)
  got_failed=$(grep -c '\[FAIL\]' "$T/suite.out" || true)
  echo "$suite: $got_passed passed, $got_failed failed"
  [ "$got_passed" -ge "$passed" ] && [ "$got_failed" -le "$failed" ] ||
    fail "$suite: want $passed passed, $failed failed: $(grep -E '\[FAIL\]|EXPECTED|GOT' "$T/suite.out")"
  ! grep -q 'EXPECTED: identify' "$T/suite.out" || fail "$suite: identify-actions: $(grep identify "$T/suite.out")"
done <"$APP_TESTS/ipp-suites.expected"
