#!/usr/bin/env bash
# Every client's document prints as its user meant it: a driverless CUPS
# queue (lpadmin -m everywhere, then lp with no options), ipptool and
# lblprinter submit, each with the documents users have. The queue's PPD
# names a default size it offers, and every label size; the device gets
# valid labels on the loaded 100 x 150 mm stock, barcodes scan, a picture
# lies whole on the label; what cannot print is refused at submission, and
# submit names the reason of a job that aborts.
source "$(dirname "$0")/../cups/lib.sh"
source "$(dirname "$0")/lib.sh"
start_server
add_printer
start_cupsd
lpadmin -p label -E -v "$URI" -m everywhere || fail "lpadmin -m everywhere"
for _ in $(seq 200); do [ -s "$T/etc/ppd/label.ppd" ] && break; sleep 0.05; done
ppd=$T/etc/ppd/label.ppd
default=$(sed -n 's/^\*DefaultPageSize: //p' "$ppd")
grep -q "^\*PageSize $default:" "$ppd" || fail "the PPD's default size $default is not one it offers"
for size in $(ipptool -tv "$URI" get-printer-attributes.test | sed -n 's/^ *media-supported .* = //p' |
  tr ',' '\n' | sed -n 's/^om_[^_]*_\(.*\)$/\1/p'); do
  grep -q "^\*PageSize $size:" "$ppd" || fail "the PPD does not offer the label size $size"
done

S=$T/one.pdf shipping="CODE-128:PKG0001234567 QR-Code:https://example.com/t/PKG0001234567"
cp "$SAMPLES/shipping-label.pdf" "$S"
gs -q -sDEVICE=pdfwrite -o "$T/three.pdf" "$S" "$S" "$S"
gs_picture() {  # device WxH output PostScript (in pixels): a frame at the picture's edges
  gs -q -dNOPAUSE -dBATCH -sDEVICE="$1" -g"$2" -r203 -sOutputFile="$3" -c "72 203 div dup scale \
    16 setlinewidth 0 0 $(tr x ' ' <<<"$2") rectstroke $4 showpage"
}
gs_picture pnggray 812x406 "$T/logo.png" "20 setlinewidth 100 100 200 200 rectstroke"
gs_picture ppmraw 2400x1800 "$T/photo.ppm" "0.5 setgray 400 400 1200 1000 rectfill"
cjpeg -progressive "$T/photo.ppm" >"$T/photo.jpg"
gs -q -dNOPAUSE -dBATCH -sDEVICE=pwgraster -sColorModel=CUPS_CSPACE_SW -dcupsColorSpace=18 \
  -dcupsBitsPerColor=8 -r254 -g1000x1500 -dFIXEDMEDIA -dPDFFitPage -sOutputFile="$T/other.pwg" "$S" 2>/dev/null
head -c 700 "$T/logo.png" >"$T/cut.png"
cp "$APP_TESTS/test-label.lbl" "$T/label.lbl"
printf 'Ship to: A. Person\n1 Long Road\n' >"$T/address.txt"

# Submits `file` with client l (lp), i (ipptool Print-Job), c (ipptool
# Create-Job and Send-Document) or s (lblprinter submit);
# the reason of a refusal is then in $T/refused.
send() {  # client file format
  : >"$T/label.out"
  : >"$T/refused"
  case $1 in
    l) print_job "$2" && [[ $state = completed,* ]] || fail "lp $2: $state" ;;
    i) ipptool -tv -f "$2" -d format="$3" -d width=10000 -d length=15000 "$URI" \
         "$APP_TESTS/print-job.test" >"$T/refused" 2>&1 || return 0 ;;
    s) app submit -d label "$2" >/dev/null 2>"$T/refused" || return 0 ;;
    c) ipptool -tv -f "$2" -d format="$3" "$URI" "$APP_TESTS/send-document.test" >"$T/refused" 2>&1 ||
         return 0 ;;
  esac
  : >"$T/refused"
  wait_job "$(app jobs -d label | awk 'NR == 1 { print $1 }')"
}

# client letters | file | format | labels | barcodes on the first | the printed box's width/height
while IFS='|' read -r clients file format labels barcodes shape; do
  for client in $(grep -o . <<<"$clients"); do
    what="$client $file"
    send "$client" "$T/$file" "$format"
    if [[ $labels = refused:* ]]; then
      grep -q "${labels#refused:}" "$T/refused" || fail "$what: not refused with \"${labels#refused:}\""
      continue
    fi
    [ "$state" = completed ] || fail "$what: $state"
    [ "$labels" != same ] || { cmp "$T/$file" "$T/label.out" || fail "$what: not the stream sent"; continue; }
    "$LBLVIEW" --dpi 203 "$T/label.out" >"$T/view" || fail "$what: lblview refuses it"
    grep -q "^$T/label.out: $labels pages\? in .*, valid$" "$T/view" || fail "$what: $(tail -1 "$T/view")"
    [ "$(grep -c 'label  *100 x 150 mm' "$T/view")" = "$labels" ] || fail "$what: not on the 100 x 150 label"
    "$LBLVIEW" -q --png -o "$T/page.png" "$T/label.out"
    [ -e "$T/page.png" ] || mv "$T/page-1.png" "$T/page.png"
    got=$( (zbarimg -q "$T/page.png" 2>/dev/null || true) | sort | paste -sd' ')
    [ "$got" = "$barcodes" ] || fail "$what: barcodes \"$got\", not \"$barcodes\""
    rm -f "$T"/page*.png
    [ -z "$shape" ] && continue
    "$LBLVIEW" -q --png -o "$T/page.png" "$T/label.out"
    box=$(pngtopnm "$T/page.png" | pnmcrop -white -reportsize | awk '{ print $5 / $6 }')
    awk -v b="$box" -v s="$shape" 'BEGIN { exit !((b - s) ^ 2 < 0.001 || (1 / b - s) ^ 2 < 0.001) }' ||
      fail "$what: the picture's printed box is $box wide for 1 high, not $shape (or turned)"
    rm -f "$T/page.png"
  done
done <<CASES
lisc|one.pdf|application/pdf|1|$shipping|
lis|three.pdf|application/pdf|3|$shipping|
lis|logo.png|image/png|1||2.00
lis|photo.jpg|image/jpeg|1||1.33
is|other.pwg|image/pwg-raster|1|$shipping|
is|label.lbl|application/vnd.lblfilter-label|same||
l|address.txt||1||
is|address.txt|text/plain|refused:not supported; the printer takes application/pdf, image/png||
s|cut.png||refused:label-[0-9]*: PNG data ends early at byte 700||
c|address.txt|application/octet-stream|refused:not supported; the printer takes application/pdf||
CASES
echo "clients: lp on a driverless queue, ipptool and lblprinter submit print every document"
