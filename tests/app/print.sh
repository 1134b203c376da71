#!/usr/bin/env bash
# One core, two front ends: a PWG raster page printed by lblprinter, with the
# job's IPP attributes, reaches the device byte for byte as lblfilter writes
# the same page with the equivalent job options. PNG labels print and scan.
source "$(dirname "$0")/lib.sh"
start_server -o log-level=debug
add_printer

# page | Print-Job attributes | lblfilter options, after the 60 x 30 mm label
# and the app's default darkness (53 %, DENSITY 8); text and draft screen as
# the filter's Threshold, auto as the filter has no choice for
while IFS='|' read -r page attributes options; do
  "$MAKE_RASTER" -m pwg "$page" >"$T/page.pwg"
  : >"$T/label.out"
  print_ipp "$T/page.pwg" $attributes
  [ "$state" = completed ] || fail "$attributes: job $state"
  "$LBLFILTER" 1 u t 1 "PageSize=w170h85 Darkness=8 $options" "$T/page.pwg" >"$T/want.lbl" 2>/dev/null
  cmp -s "$T/want.lbl" "$T/label.out" || fail "$attributes: not the bytes of lblfilter $options"
done <<'CASES'
480x240,fill=label|darkness=27 speed=12700 content=text|Darkness=12 PrintSpeed=50
480x240,fill=label,copies=3|copies=3 tracking=mark left=100 top=-200 quality=3|MediaType=Mark Horizontal=8 Vertical=-16
480x240,fill=gradient|tracking=continuous content=photo direction=reverse|MediaType=Continuous Dither=Diffusion PrintDirection=Reverse
480x240,fill=gradient|content=graphic quality=3 darkness=-53|Dither=Ordered8 Darkness=0
480x240,fill=gradient|content=graphic|Dither=Clustered
480x240,fill=gradient|content=graphic quality=5 darkness=100|Dither=Ordered16 Darkness=15
812x1218,fill=label|width=10160 length=15240 speed=5080 content=text-and-graphic|PageSize=Custom.4x6in PrintSpeed=20
CASES
# The label core's own lines land in each job's log.
grep -q '\[Job 1\] Gray2Bytes: Enter function$' "$T/server.log" || fail "job 1's log lacks the core's lines"

# The printer's label mode and default direction, not the job's.
app modify -d label -o label-mode-configured=peel-off -o print-direction-default=reverse
"$MAKE_RASTER" -m pwg 480x240,fill=label >"$T/page.pwg"
: >"$T/label.out"
app submit -d label -o media=om_w170h85_60x30mm -o print-quality=3 "$T/page.pwg" >/dev/null
wait_job "$(app jobs -d label | awk 'NR == 1 { print $1 }')"
"$LBLFILTER" 1 u t 1 "PageSize=w170h85 Darkness=8 LabelMode=PeelOff PrintDirection=Reverse" "$T/page.pwg" >"$T/want.lbl" 2>/dev/null
cmp -s "$T/want.lbl" "$T/label.out" || fail "lblprinter submit, peel-off and reverse"

# A PNG label on the loaded 100 x 150 mm label: its QR code scans, the
# printer makes the copies.
qrencode -s 8 -o "$T/code.png" "PKG0001234567"
: >"$T/label.out"
print_ipp "$T/code.png" format=image/png width=10000 length=15000 copies=2
"$LBLVIEW" -q --png -o "$T/label.png" "$T/label.out" 2>/dev/null || fail "lblview refuses the PNG job's labels"
[ "$(grep -a '^PRINT' "$T/label.out" | tr -d '\r')" = "PRINT 1,2" ] || fail "two copies: one label, PRINT 1,2"
[ "$(zbarimg -q "$T/label.png" 2>/dev/null)" = "QR-Code:PKG0001234567" ] || fail "the QR code does not scan"

# A finished label stream goes to the printer as it is.
"$LBLFILTER" 1 u t 1 "LabelMode=Cutter" "$T/page.pwg" >"$T/want.lbl" 2>/dev/null
: >"$T/label.out"
print_ipp "$T/want.lbl" format=application/vnd.lblfilter-label
cmp -s "$T/want.lbl" "$T/label.out" || fail "a label stream passes through unchanged"
echo "print: lblprinter's labels are lblfilter's, byte for byte"
