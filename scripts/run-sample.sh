#!/usr/bin/env bash
# The main job on the shipped samples: prints each sample label PDF through the
# real CUPS filter chain (cupsfilter runs pdftopdf, gstoraster and the built
# lblfilter with the project's PPD, as a print queue would; no daemon needed),
# then writes lblview's summary and PNG preview of the label stream to out/
# and scans the preview's barcodes; prints the photo label in every
# screening; then prints through the second front end, the Printer
# Application lblprinter, on a private server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

build=${LBL_BUILD_DIR:-build}
cmake -S . -B "$build" -DLBL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target lblfilter lblview ppds samples lblprinter >/dev/null

# cupsfilter takes its filters from a CUPS server directory: the system's own,
# plus the freshly built lblfilter (mode 0755: CUPS refuses writable filters).
serverbin=$(mktemp -d)
app_dir=$(mktemp -d)
app_pid=
trap '[ -z "$app_pid" ] || kill "$app_pid"; wait; rm -rf "$serverbin" "$app_dir"' EXIT
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

# The Printer Application: a private lblprinter server (its port, spool, state
# and control socket in a temporary folder; localhost only, beside any
# installed service), a printer on a file:// device, the sample label as PWG
# raster at the head's 203 dpi (Ghostscript's pwgraster device) submitted with
# lblprinter submit, and lblview's preview of what reached the device.
app() { local command=$1; shift; "$build/app/lblprinter" "$command" -o state-directory="$app_dir" "$@"; }
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$build/app/lblprinter" server -o state-directory="$app_dir" -o server-port="$port" \
  -o log-file="$app_dir/server.log" -o log-level=info &
app_pid=$!
for _ in $(seq 100); do [ -S "$app_dir/lblprinter.sock" ] && break; sleep 0.05; done
: >out/app-product-label.lbl
app add -d label -m generic-203dpi -v "file://$PWD/out/app-product-label.lbl"
gs -q -dNOPAUSE -dBATCH -sDEVICE=pwgraster -r203 -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
  -o "$app_dir/product-label.pwg" "$build/samples/product-label.pdf" 2>/dev/null
app submit -d label -o media=om_w170h85_60x30mm -o print-darkness=27 "$app_dir/product-label.pwg"
for _ in $(seq 100); do app jobs -d label | grep -q ' completed ' && break; sleep 0.1; done
echo "lblprinter on http://localhost:$port/ printed:"
"$build/lblview" out/app-product-label.lbl | tee out/app-product-label.txt
"$build/lblview" -q -o out/app-product-label.png out/app-product-label.lbl
echo "wrote out/app-product-label.lbl, .txt and .png; its barcodes scan as:"
zbarimg -q out/app-product-label.png 2>/dev/null | sed 's/^/  /'
