#!/usr/bin/env bash
# The label printer's whole CUPS filter chain without a spooler: cupsfilter
# runs pdftopdf, gstoraster and the built lblfilter on the sample PDFs with
# the project's PPDs, as a queue would. The labels follow the job's options,
# and their barcodes scan.
source "$(dirname "$0")/lib.sh"
make_server_bin
EAN="EAN-13:4006381333931"
SHIP="CODE-128:PKG0001234567 QR-Code:https://example.com/t/PKG0001234567"

chain() {  # ppd dpi pdf want barcodes cupsfilter-options...
  local ppd=$1 dpi=$2 pdf=$3 want=$4 codes=$5
  shift 5
  cupsfilter -c "$T/cupsfilter.conf" -p "$PPDS/$ppd" -e -m printer/label "$@" \
    "$SAMPLES/$pdf" >"$T/out.lbl" 2>"$T/cupsfilter.log" || fail "cupsfilter $pdf $*"
  check_label "$T/out.lbl" "$dpi" "$want" $codes
}

chain lbl203.ppd 203 product-label.pdf "60x30 Gap TearOff Normal speed 6 density 12 bitmap 480x240 at 16,-8 copies 1" \
  "$EAN" -o PageSize=w170h85 -o Darkness=12 -o PrintSpeed=60 -o Horizontal=16 -o Vertical=-8
chain lbl203.ppd 203 shipping-label.pdf "100x150 Gap TearOff Normal speed 4 density 8 bitmap 800x1198 at 0,0 copies 1" \
  "$SHIP"
chain lbl203.ppd 203 product-label.pdf "60x30 Gap TearOff Normal speed 4 density 8 bitmap 480x240 at 0,0 copies 3" \
  "$EAN" -o PageSize=w170h85 -n 3
chain lbl203.ppd 203 product-label.pdf "60x30 Gap TearOff Normal speed 2 density 0 bitmap 480x240 at 0,0 copies 1" \
  "$EAN" -o media=w170h85 -o Darkness=0 -o PrintSpeed=20
chain lbl203.ppd 203 product-label.pdf "60x30 Gap TearOff Normal speed 4 density 8 bitmap 480x240 at -80,80 copies 1" \
  "$EAN" -o PageSize=Custom.170x85 -o Horizontal=-80 -o Vertical=80
chain lbl300.ppd 300 shipping-label.pdf "100x150 Gap TearOff Normal speed 3 density 3 bitmap 1184x1771 at 0,0 copies 2" \
  "$SHIP" -o PageSize=w283h425 -o PrintSpeed=30 -o Darkness=3 -n 2
chain lbl300.ppd 300 product-label.pdf "60x30 Gap TearOff Normal speed 3 density 8 bitmap 712x354 at 0,0 copies 1" \
  "$EAN" -o PageSize=w170h85

# Pictures: with error diffusion a gray field prints as many dots as it is
# dark, within 3 percentage points.
for gray in 0.1 0.25 0.5 0.75 0.9; do
  printf '%%!PS\n<< /PageSize [170 85] >> setpagedevice %s setgray clippath fill showpage\n' \
    "$gray" >"$T/gray.ps"
  cupsfilter -c "$T/cupsfilter.conf" -p "$PPDS/lbl203.ppd" -e -m printer/label -o Dither=Diffusion \
    -o PageSize=w170h85 "$T/gray.ps" 2>/dev/null >"$T/gray.lbl" || fail "cupsfilter gray $gray"
  share=$("$LBLVIEW" --json "$T/gray.lbl" | sed -n 's/.*"dark_share": \(.*\),/\1/p')
  awk -v share="$share" -v gray="$gray" 'BEGIN { exit !(share - (1 - gray) < 0.03 &&
    (1 - gray) - share < 0.03) }' || fail "gray $gray printed with $share of its dots"
done
echo "cupsfilter: every label as asked, every barcode scans, gray keeps its tone"
