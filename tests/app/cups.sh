#!/usr/bin/env bash
# Through real CUPS: a private cupsd's IPP Everywhere queue (lpadmin -m
# everywhere) on a private lblprinter server. CUPS rasterises the sample
# label PDF on its side; the label reaches the device with the job's media
# and the printer's darkness, and its barcode scans. (CUPS 2.4's ipp backend
# does not forward print-darkness: darkness is the printer's setting here.)
source "$(dirname "$0")/../cups/lib.sh"
source "$(dirname "$0")/lib.sh"
start_server
add_printer
app modify -d label -o printer-darkness-configured=80
start_cupsd
lpadmin -p label -E -v "$URI" -m everywhere || fail "lpadmin -m everywhere"
# cupsd writes the queue's PPD from the printer's attributes after lpadmin
# returns; a job queued before it goes out unconverted.
for _ in $(seq 200); do [ -s "$T/etc/ppd/label.ppd" ] && break; sleep 0.05; done
print_job -o media=om_w170h85_60x30mm "$SAMPLES/product-label.pdf"
[[ $state = completed,* ]] || fail "job $job: $state"
wait_job "$(app jobs -d label | awk 'NR == 1 { print $1 }')"
check_label "$T/label.out" 203 "60x30 Gap TearOff Normal speed 4 density 12 bitmap 480x240 at 0,0 copies 1" \
  "EAN-13:4006381333931"
# The queue forwards print-quality, not print-content-optimize: a 75 % light
# gray prints none (draft: barcode threshold), some (normal: auto) or a
# quarter of its dots (high: photo diffusion).
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$T/gray.pdf" \
  -c "<< /PageSize [170 85] >> setpagedevice 0.75 setgray 0 0 170 85 rectfill showpage"
while read -r quality low high; do
  : >"$T/label.out"
  print_job -o media=om_w170h85_60x30mm -o print-quality="$quality" "$T/gray.pdf"
  wait_job "$(app jobs -d label | awk 'NR == 1 { print $1 }')"
  share=$("$LBLVIEW" "$T/label.out" | sed -n 's/.*dark dots.*(\([0-9.]*\)%.*/\1/p')
  awk -v s="$share" -v l="$low" -v h="$high" 'BEGIN { exit !(s >= l && s <= h) }' ||
    fail "print-quality $quality: $share % dark dots, not $low to $high"
  echo "print-quality $quality: $share % dark dots"
done <<'CASES'
3 0 1
4 8 20
5 22 28
CASES
echo "cups: an IPP Everywhere queue prints the label through lblprinter"
