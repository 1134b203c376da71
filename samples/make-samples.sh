#!/usr/bin/env bash
# Makes the shipped sample labels: PostScript pages written by this project,
# with the barcodes drawn by GNU barcode and qrencode, turned into PDF by
# Ghostscript. Usage: make-samples.sh OUTPUT-DIRECTORY
#
#   product-label.pdf   60 x 30 mm (w170h85), EAN-13 4006381333931
#   shipping-label.pdf  100 x 150 mm (w283h425), Code 128 PKG0001234567 and
#                       a QR code holding https://example.com/t/PKG0001234567
#   photo-label.pdf     50 x 50 mm (w142h144), a shaded sphere and a gray ramp
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make-samples.sh OUTPUT-DIRECTORY}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The contents the labels carry; the tests scan the printed labels for them.
ean13_digits=400638133393                 # the check digit 1 is added by barcode
code128_text=PKG0001234567
qr_text=https://example.com/t/PKG0001234567

# Bars only (-n): the labels print their own human-readable lines.
barcode -n -E -e ean13 -b "$ean13_digits" -o "$work/ean13.eps"
barcode -n -E -e 128 -b "$code128_text" -o "$work/code128.eps"
# One point per module, no quiet zone: the label leaves white space around it.
qrencode -t EPS -s 1 -m 0 -l M -o "$work/qr.eps" "$qr_text"

# Splices each EPS named on a "%@INCLUDE name@" line into the page.
splice() {
  awk -v dir="$work" '
    /^%@INCLUDE [a-z0-9]+\.eps@$/ {
      name = substr($2, 1, length($2) - 1)
      while ((getline line < (dir "/" name)) > 0) print line
      close(dir "/" name)
      next
    }
    { print }' "$1"
}

for label in product-label shipping-label photo-label; do
  splice "$here/$label.ps" > "$work/$label.ps"
  # The page size comes from each document's own setpagedevice.
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dCompatibilityLevel=1.4 \
    -dEmbedAllFonts=true -o "$work/$label.pdf" "$work/$label.ps"
  mv "$work/$label.pdf" "$out/$label.pdf"
done
