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

# A queue default for a choice option: half gray printed with diffusion.
lpadmin -p label -o Dither-default=Diffusion
printf '%%!PS\n<< /PageSize [170 85] >> setpagedevice 0.5 setgray clippath fill showpage\n' >"$T/gray.ps"
print_job "$T/gray.ps"
share=$("$LBLVIEW" --json "$T/dev/label.out" | sed -n 's/.*"dark_share": \(.*\),/\1/p')
awk -v s="$share" 'BEGIN { exit !(s > 0.47 && s < 0.53) }' || fail "Dither-default: $share dark"
lpadmin -p label -o Dither-default=Threshold

# A job the printer cannot take, under either error policy: the job stops
# with its reason, the printer's state and alerts show it (though
# Ghostscript finishes rendering after the filter has failed), nothing
# reaches the device, and the next job prints and clears the alert.
for policy in stop-printer abort-job; do
  lpadmin -p label -o printer-error-policy=$policy
  print_job -o PageSize=w283h425 -o Horizontal=-32768 -o Vertical=-32768 \
    "$SAMPLES/shipping-label.pdf"
  reason="Page 1 bitmap header does not fit the printer's command"
  [[ $state = processing-stopped,*,"$reason" ]] || fail "$policy: the job must stop: $state"
  [ ! -s "$T/dev/label.out" ] || fail "$policy: no label may reach the printer"
  lpstat -l -p label | grep -qxF "	$reason" || fail "$policy: printer state: $(lpstat -l -p label)"
  lpstat -l -p label | grep -q "Alerts: document-unprintable-error" || fail "$policy: no alert"
  job "60x30 Gap TearOff Normal speed 6 density 12 bitmap 480x240 at 0,0 copies 1" "$EAN" \
    -o Horizontal=0 -o Vertical=0 "$SAMPLES/product-label.pdf"
  lpstat -l -p label | grep -q "Alerts: none" || fail "$policy: alert left: $(lpstat -l -p label)"
done

# The error policy decides what a printer that fails a job does to the next:
# a backend refusing jobs titled "unlucky" stops the queue by default, while
# abort-job drops the job and prints the next.
printf '%s\n' '#!/bin/sh' '[ $# = 0 ] && exec echo "direct flaky \"Unknown\" \"Flaky printer\""' \
  '[ "$3" = unlucky ] && exit 1' "cat \${6:--} >$T/dev/label.out" >"$T/serverbin/backend/flaky"
chmod 0700 "$T/serverbin/backend/flaky"
lpadmin -p label -v flaky:/ -o printer-error-policy=stop-printer
print_job -t unlucky "$SAMPLES/product-label.pdf"
lpstat -p label | grep -q disabled || fail "stop-printer: the queue must stop: $(lpstat -p label)"
cupsenable label
lpadmin -p label -o printer-error-policy=abort-job
print_job -t unlucky "$SAMPLES/product-label.pdf"
[[ $state = aborted,* ]] || fail "abort-job: the job must be aborted: $state"
job "60x30 Gap TearOff Normal speed 6 density 12 bitmap 480x240 at 0,0 copies 1" "$EAN" \
  -o Horizontal=0 -o Vertical=0 "$SAMPLES/product-label.pdf"
echo "cupsd: every job as asked, every barcode scans, a failed job says why"
