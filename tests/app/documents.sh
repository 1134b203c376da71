#!/usr/bin/env bash
# lblprinter owns every document it prints: each bad document ends aborted
# within 5 s with a message naming the fault, writes nothing, and the next
# label prints; the server stays small. Pictures go onto the label as IPP's
# print-scaling and orientation-requested say, and barcodes scan.
source "$(dirname "$0")/lib.sh"
start_server
add_printer
message() { ipptool -c -d job="$1" "$URI" "$APP_TESTS/../cups/job-state.test" | tail -n 1; }
submit() {  # file NAME=VALUE...: Print-Job
  local file=$1 defines=()
  shift
  for define in "$@"; do defines+=(-d "$define"); done
  ipptool -f "$file" "${defines[@]}" "$URI" "$APP_TESTS/print-job.test" >"$T/ipptool.out" 2>&1 || true
  job=$(app jobs -d label | awk 'NR == 1 { print $1 }')
  wait_job "$job"
}
gs_picture() {  # device WxH PPI output PostScript
  gs -q -dNOPAUSE -dBATCH -sDEVICE="$1" -g"$2" -r"$3" -sOutputFile="$4" -c "$5 showpage"
}

gs_picture pnggray 600x400 100 "$T/photo.png" "0 1 599 { dup 600 div setgray 0 1 400 rectfill } for"
gs_picture jpeggray 600x400 100 "$T/photo.jpg" "0 1 599 { dup 600 div setgray 0 1 400 rectfill } for"
"$MAKE_RASTER" -m pwg 480x240,fill=label >"$T/good.pwg"
"$MAKE_RASTER" -m pwg 480x240,fill=random:3 >"$T/noise.pwg"
"$MAKE_RASTER" -m pwg 480x240,fill=label,bpl=100 >"$T/lying.pwg"
"$MAKE_RASTER" -m pwg 480x240,fill=label,bits=24,colors=3 >"$T/colour.pwg"
for f in photo.png photo.jpg; do
  for n in 100 700 $(($(stat -c %s "$T/$f") / 2)); do head -c "$n" "$T/$f" >"$T/$n-$f"; done
done
head -c 7000 "$T/noise.pwg" >"$T/cut.pwg"
# Headers claiming 30000 x 30000 and exactly 64 Mi pixels; a failed checksum.
python3 - "$T/photo.png" "$T" <<'PY'
import struct, sys, zlib
d = open(sys.argv[1], 'rb').read()
for name, width, height in (('huge', 30000, 30000), ('edge', 8192, 8192)):
    header = d[12:16] + struct.pack('>II', width, height) + d[24:29]
    open(f'{sys.argv[2]}/{name}.png', 'wb').write(
        d[:12] + header + struct.pack('>I', zlib.crc32(header)) + d[33:])
at = d.index(b'pHYs') + 4
open(f'{sys.argv[2]}/crc.png', 'wb').write(d[:at] + bytes([d[at] ^ 1]) + d[at + 1:])
PY
jpg_size=$(stat -c %s "$T/photo.jpg")
head -c $((jpg_size - 2)) "$T/photo.jpg" >"$T/no-end.jpg"
png_half=$(($(stat -c %s "$T/photo.png") / 2)) jpg_half=$(($(stat -c %s "$T/photo.jpg") / 2))

# document | format | job-state-message
while IFS='|' read -r file format want; do
  : >"$T/label.out"
  start=$(date +%s%N)
  submit "$T/$file" format="$format"
  ms=$((($(date +%s%N) - start) / 1000000))
  [[ $(message "$job") == aborted,*"$want"* ]] || fail "$file: $(message "$job"), not \"$want\""
  ((ms < 5000)) || fail "$file: aborted after $ms ms"
  [ ! -s "$T/label.out" ] || fail "$file: bytes reached the printer"
  [ "$(ipptool -tv -d job="$job" "$URI" "$APP_TESTS/../cups/job-state.test" |
    sed -n 's/^ *job-impressions-completed (integer) = //p')" = 0 ] || fail "$file: a page counted printed"
  submit "$T/good.pwg"
  [ "$state" = completed ] && "$LBLVIEW" -q "$T/label.out" || fail "the label after $file: $state"
  echo "$file: aborted in $ms ms"
done <<CASES
100-photo.png|image/png|PNG data ends early at byte 100
700-photo.png|image/png|PNG data ends early at byte 700
$png_half-photo.png|image/png|PNG data ends early at byte $png_half
100-photo.jpg|image/jpeg|JPEG data ends early at byte 100
700-photo.jpg|image/jpeg|JPEG data ends early at byte 700
$jpg_half-photo.jpg|image/jpeg|JPEG data ends early at byte $jpg_half
huge.png|image/png|Picture of 30000 x 30000 pixels is larger than the printer can take (64 megapixels, 65535 pixels a side)
edge.png|image/png|PNG: Not enough image data
crc.png|image/png|PNG: pHYs: CRC error
no-end.jpg|image/jpeg|JPEG data ends early at byte $((jpg_size - 2))
lying.pwg|image/pwg-raster|Page 1 has a raster header the printer cannot take
colour.pwg|image/pwg-raster|Page 1 is not 8-bit gray; the printer takes 8-bit gray pages
cut.pwg|image/pwg-raster|Page 1 ends after 10 of its 240 rows
CASES
# An empty document never becomes a job: PAPPL refuses the request.
: >"$T/empty"
! ipptool -f "$T/empty" -d format=image/png "$URI" "$APP_TESTS/print-job.test" >/dev/null 2>&1 ||
  fail "an empty document was taken"

# Placement on the 60 x 30 mm label (479 x 239 dots, drawn 480 wide), shown by
# the printed dots' box as pnmcrop -reportsize gives it: the crops left, right,
# top and bottom, then width and height. box.png is black, 300 x 100 pixels at 100
# ppi (609 x 203 dots at its own size); half.png's left half is black.
gs_picture pnggray 300x100 100 "$T/box.png" "0 0 300 100 rectfill"
gs_picture pnggray 100x300 100 "$T/tall.png" "0 0 100 300 rectfill"
gs_picture pnggray 100x50 100 "$T/small.png" "0 0 100 50 rectfill"
gs_picture jpeggray 100x50 100 "$T/small.jpg" "0 0 100 50 rectfill"
gs_picture pnggray 200x100 100 "$T/half.png" "0 0 72 72 rectfill"
while IFS='|' read -r picture attributes want; do
  : >"$T/label.out"
  format=image/png
  [[ $picture = *.jpg ]] && format=image/jpeg
  submit "$T/$picture" format=$format $attributes
  "$LBLVIEW" -q --png -o "$T/label.png" "$T/label.out" 2>/dev/null || fail "$picture $attributes: $state"
  got=$(pngtopnm "$T/label.png" | pnmcrop -white -reportsize)
  [ "$got" = "$want" ] || fail "$picture $attributes: dots at $got, not $want"
done <<'CASES'
tall.png|scaling=auto orientation=3|-199 -201 0 0 80 239
box.png|scaling=none|0 -1 -18 -18 479 203
box.png|scaling=fit|0 -1 -39 -40 479 160
box.png|scaling=fill|0 -1 0 0 479 239
box.png|scaling=auto|0 -1 -39 -40 479 160
tall.png|scaling=auto orientation=7|0 -1 -39 -40 479 160
box.png|scaling=auto-fit|0 -1 -39 -40 479 160
small.png|scaling=auto|-138 -139 -68 -69 203 102
small.jpg|scaling=auto|-138 -139 -68 -69 203 102
box.png|scaling=fit orientation=7 width=2540 length=5080|-34 -39 0 0 135 406
half.png|scaling=none|-36 -241 -18 -18 203 203
half.png|scaling=none orientation=4|-138 -139 -120 0 203 119
half.png|scaling=none orientation=5|-138 -139 0 -119 203 120
half.png|scaling=none orientation=6|-239 -38 -18 -18 203 203
CASES

# A job that gives no orientation has its picture turned to suit the label.
: >"$T/label.out"
app submit -d label -o media=om_w170h85_60x30mm "$T/tall.png" >/dev/null
wait_job "$(app jobs -d label | awk 'NR == 1 { print $1 }')"
"$LBLVIEW" -q --png -o "$T/label.png" "$T/label.out" 2>/dev/null || fail "tall.png by submit: $state"
got=$(pngtopnm "$T/label.png" | pnmcrop -white -reportsize)
[ "$got" = "0 -1 -39 -40 479 160" ] || fail "tall.png by submit: dots at $got, not turned"

# A QR code scans, at its own size and turned to fit; a photo keeps its tone
# in error diffusion (threshold would print none of this light gray), as a
# PNG and as a JPEG; an interlaced PNG prints as the plain one.
qrencode -s 8 -o "$T/code.png" "PKG0001234567"
for attributes in "" "scaling=fit orientation=5"; do
  : >"$T/label.out"
  submit "$T/code.png" format=image/png width=10000 length=15000 $attributes
  "$LBLVIEW" -q --png -o "$T/code.png.png" "$T/label.out" || fail "QR code $attributes: $state"
  [ "$(zbarimg -q "$T/code.png.png" 2>/dev/null)" = "QR-Code:PKG0001234567" ] ||
    fail "the QR code $attributes does not scan"
done
gs_picture pnggray 200x100 100 "$T/flat.png" "0.75 setgray 0 0 200 100 rectfill"
gs_picture jpeggray 200x100 100 "$T/flat.jpg" "0.75 setgray 0 0 200 100 rectfill"
for picture in flat.png:image/png flat.jpg:image/jpeg; do
  : >"$T/label.out"
  submit "$T/${picture%%:*}" format="${picture#*:}" content=photo scaling=fit
  share=$("$LBLVIEW" "$T/label.out" | sed -n 's/.*dark dots.*(\([0-9]*\)\..*/\1/p')
  [ "$share" -ge 24 ] && [ "$share" -le 26 ] || fail "$picture in diffusion: $share % dark dots"
done
pngtopnm "$T/photo.png" | pnmtopng -interlace >"$T/interlaced.png"
for picture in photo.png interlaced.png; do
  : >"$T/label.out"
  submit "$T/$picture" format=image/png
  [ "$state" = completed ] && mv "$T/label.out" "$T/$picture.lbl" || fail "$picture: $state"
done
cmp -s "$T/photo.png.lbl" "$T/interlaced.png.lbl" || fail "an interlaced PNG prints otherwise"

if [ -z "${LBL_SANITIZE:-}" ]; then  # ASan's shadow memory is not the server's
  peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$server_pid/status")
  ((peak < 65536)) || fail "the server's resident memory reached $peak KiB"
  echo "peak resident memory: $peak KiB"
fi
echo "documents: bad documents abort with their reason, pictures are placed as asked"
