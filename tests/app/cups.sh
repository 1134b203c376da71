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
echo "cups: an IPP Everywhere queue prints the label through lblprinter"
