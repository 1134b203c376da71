#!/usr/bin/env bash
# Label jobs through a real scheduler: a private cupsd with a queue made by
# lpadmin from the project's PPD on a file device. Jobs go in with lp; the
# labels that reach the device follow the job's options and the queue's
# defaults, and their barcodes scan.
source "$(dirname "$0")/lib.sh"
start_cupsd
lpadmin -p label -E -v "file://$T/dev/label.out" -P "$PPDS/lbl203.ppd"
EAN="EAN-13:4006381333931"
job() {  # want barcodes lp-arguments...
  local want=$1 codes=$2
  shift 2
  print_job "$@"
  [[ $state = completed,* ]] || fail "job $job: $state"
  check_label "$T/dev/label.out" 203 "$want" $codes
}

job "60x30 Gap TearOff Normal speed 5 density 12 bitmap 480x240 at 8,16 copies 3" "$EAN" -n 3 -o PageSize=w170h85 \
  -o Darkness=12 -o PrintSpeed=50 -o Horizontal=8 -o Vertical=16 "$SAMPLES/product-label.pdf"
job "100x150 Gap TearOff Normal speed 4 density 8 bitmap 800x1198 at 0,0 copies 1" \
  "CODE-128:PKG0001234567 QR-Code:https://example.com/t/PKG0001234567" \
  "$SAMPLES/shipping-label.pdf"
job "60x30 Gap TearOff Normal speed 4 density 8 bitmap 480x240 at 0,0 copies 1" "$EAN" -o media=w170h85 \
  -o MediaTracking=1 "$SAMPLES/product-label.pdf"

# Queue defaults reach the filter two ways: NAME-default is sent with every
# job, NAME=VALUE changes the queue's copy of the PPD, which the filter reads
# through $PPD. Job options override both.
lpadmin -p label -o Darkness-default=12 -o PrintSpeed=60 -o Horizontal=-16 -o PageSize=w170h85
grep -q '^\*DefaultPrintSpeed: 60' "$T/etc/ppd/label.ppd" || fail "queue PPD keeps its defaults"
job "60x30 Gap TearOff Normal speed 6 density 12 bitmap 480x240 at -16,0 copies 1" "$EAN" \
  "$SAMPLES/product-label.pdf"
job "60x30 Gap TearOff Normal speed 2 density 3 bitmap 480x240 at 0,0 copies 1" "$EAN" -o Darkness=3 \
  -o PrintSpeed=20 -o Horizontal=0 "$SAMPLES/product-label.pdf"

# A page far beyond what the printer can hold: the filter refuses it, the
# scheduler stops the queue and shows the filter's message as its state.
"$MAKE_RASTER" 832x3000000,rows=0 >"$T/huge.ras"
print_job -o document-format=application/vnd.cups-raster "$T/huge.ras"
[[ $state = processing-stopped,* ]] || fail "the job must stop: $state"
lpstat -l -p label | grep -qF "Page 1 is too large for the printer (832 x 3000000 dots)" ||
  fail "printer state: $(lpstat -l -p label)"
[ ! -s "$T/dev/label.out" ] || fail "no label may reach the printer"
echo "cupsd: every job as asked, every barcode scans, a failed job says why"
