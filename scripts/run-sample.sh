#!/usr/bin/env bash
# The main job on the shipped samples: prints each sample label PDF through the
# real CUPS filter chain (cupsfilter runs pdftopdf, gstoraster and the built
# lblfilter with the project's PPD, as a print queue would; no daemon needed),
# then writes lblview's summary and PNG preview of the label stream to out/
# and scans the preview's barcodes; and prints the photo label in every
# screening.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

build=${LBL_BUILD_DIR:-build}
cmake -S . -B "$build" -DLBL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target lblfilter lblview ppds samples >/dev/null

# cupsfilter takes its filters from a CUPS server directory: the system's own,
# plus the freshly built lblfilter (mode 0755: CUPS refuses writable filters).
serverbin=$(mktemp -d)
trap 'rm -rf "$serverbin"' EXIT
mkdir "$serverbin/filter"
ln -s /usr/lib/cups/filter/* "$serverbin/filter/"
rm -f "$serverbin/filter/lblfilter"
install -m 0755 "$build/lblfilter" "$serverbin/filter/lblfilter"
printf 'ServerBin %s\n' "$serverbin" > "$serverbin/cups-files.conf"

print_label() {  # name, cupsfilter options...
  local name=$1
  shift
  cupsfilter -c "$serverbin/cups-files.conf" -p "$build/ppd/ppd/lbl203.ppd" -e -m printer/label \
    "$@" "$build/samples/$name.pdf" > "out/$name.lbl" 2> "out/$name.cupsfilter.log"
  "$build/lblview" "out/$name.lbl" | tee "out/$name.txt"
  "$build/lblview" -q -o "out/$name.png" "out/$name.lbl"
  echo "wrote out/$name.lbl, out/$name.txt and out/$name.png; its barcodes scan as:"
  zbarimg -q "out/$name.png" 2>/dev/null | sed 's/^/  /'
  echo
}

mkdir -p out
print_label product-label -o PageSize=w170h85 -o Darkness=12
print_label shipping-label -o PageSize=w283h425 -n 2

# The photo label in every screening, side by side in out/photo-dithers.png.
pictures=()
for dither in Threshold Ordered8 Clustered Ordered16 Diffusion; do
  cupsfilter -c "$serverbin/cups-files.conf" -p "$build/ppd/ppd/lbl203.ppd" -e -m printer/label \
    -o PageSize=w142h144 -o Dither=$dither "$build/samples/photo-label.pdf" \
    >"out/photo-$dither.lbl" 2>"out/photo-$dither.cupsfilter.log"
  "$build/lblview" -q --png -o "out/photo-$dither.png" "out/photo-$dither.lbl" 2>/dev/null
  pngtopnm "out/photo-$dither.png" | pnmpad -white -right 12 >"$serverbin/$dither.pnm"
  pictures+=("$serverbin/$dither.pnm")
done
pnmcat -white -lr "${pictures[@]}" | pnmtopng -compression 9 >out/photo-dithers.png
echo "wrote out/photo-dithers.png: the photo label as Threshold, Ordered8, Clustered, Ordered16, Diffusion"
