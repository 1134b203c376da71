#!/usr/bin/env bash
# Who may change what: changing a printer over IPP or through the web
# interface's form without an administrator's credentials is refused and
# changes nothing, while printing goes on; an administrator (PAM service
# lbl-test, which in this test's own mount namespace admits root) may. The
# web pages show the media and darkness settings to anyone, and the Add
# Printer page too, without ending the server where no avahi daemon runs.
source "$(dirname "$0")/lib.sh"
mkdir "$T/pam.d"
printf '%s\n' "auth required pam_succeed_if.so quiet user = root" "account required pam_permit.so" \
  >"$T/pam.d/lbl-test"
mount --bind "$T/pam.d" /etc/pam.d
start_server -o auth-service=lbl-test
add_printer
"$MAKE_RASTER" -m pwg 480x240,fill=label >"$T/page.pwg"
density_printed() {  # want
  : >"$T/label.out"
  print_ipp "$T/page.pwg"
  local got
  got=$("$LBLVIEW" "$T/label.out" | awk '$1 == "density" { print $2 }')
  [ "$state" = completed ] && [ "$got" = "$1" ] || fail "want density $1, got $state, $got"
}
set_darkness() {  # user:password@ or nothing, darkness: prints the status code
  ipptool -tv -d darkness="$2" "ipp://$1localhost:$PORT/ipp/print/label" "$APP_TESTS/set-darkness.test" |
    sed -n 's/^ *status-code = \([a-z-]*\).*/\1/p' || true
}
web_post() {  # curl options..., page, NAME=VALUE: posts a web form
  local page="http://localhost:$PORT/${@:$#-1:1}" session
  session=$(curl -s "$page" | sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p')
  curl -s -o /dev/null -w '%{http_code}' "${@:1:$#-2}" -d "session=$session&${!#}" "$page"
}

curl -sf "http://localhost:$PORT/addprinter" | grep -q 'value="generic-300dpi"' || fail "add printer page"
page=$(curl -sf "http://localhost:$PORT/label/printing") || fail "the printing defaults page"
[[ $page = *"<option value=\"53\" selected>53%"* ]] || fail "the page shows no darkness"
curl -sf "http://localhost:$PORT/label/media" | grep -q ">60 x 30 mm<" || fail "the media page shows no sizes"

[ "$(set_darkness "" 100)" = client-error-not-authenticated ] || fail "IPP change without credentials"
[ "$(set_darkness nobody:x@ 100)" = client-error-not-authenticated ] || fail "IPP change by a user PAM refuses"
[ "$(web_post label/printing print-darkness=100)" = 401 ] || fail "web form without credentials"
[ "$(web_post label/label-mode label-mode-configured=cutter)" = 401 ] || fail "label mode without credentials"
density_printed 8
[ "$(set_darkness root:x@ 80)" = successful-ok ] || fail "IPP change by an administrator"
density_printed 12
[ "$(web_post -u root:x label/printing print-darkness=100)" = 200 ] || fail "web form by an administrator"
density_printed 15
[ "$(web_post -u root:x label/label-mode label-mode-configured=cutter)" = 200 ] || fail "label mode page"
"$LBLVIEW" "$T/label.out" | grep -q "label mode *TearOff" || fail "the label before the change"
density_printed 15
"$LBLVIEW" "$T/label.out" | grep -q "label mode *Cutter" || fail "the label mode page changes nothing"
# The Media form refuses what the printer cannot take, with the reason, saves
# nothing of it and shows the post again: size | width | length | offsets |
# tracking, as posted, then as saved.
media_form() {  # page HTML on standard input: the form's values
  grep -o 'selected>[^<]*\|step="0.01"[^>]*' | sed 's/selected>//; s/step="0.01"//; s/ value="//; s/"$//' |
    paste -sd'|'
}
while IFS='#' read -r post banner posted saved; do
  session=$(curl -s "http://localhost:$PORT/label/media" | sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p')
  curl -s -u root:x -d "session=$session&$post" "http://localhost:$PORT/label/media" >"$T/media.html"
  got=$(sed -n 's/.*<div class="banner">\(.*\)<\/div>.*/\1/p' "$T/media.html")
  [ "$got" = "$banner" ] || fail "media $post: \"$got\", not \"$banner\""
  [ "$(media_form <"$T/media.html")" = "$posted" ] || fail "media $post: shows $(media_form <"$T/media.html")"
  got=$(curl -s "http://localhost:$PORT/label/media" | media_form)
  [ "$got" = "$saved" ] || fail "media $post: saved $got, not $saved"
done <<'CASES'
size=custom&custom-width=5&custom-length=50&left-offset=2&tracking=gap#Custom width 5 mm is outside the printer's 20 to 108 mm.#Custom size|5|50|2|0|Labels with gaps#100 x 150 mm|100|150|0|0|Labels with gaps
size=custom&custom-width=50.5&custom-length=30&left-offset=2&tracking=mark#Changes saved.#Custom size|50.5|30|2|0|Labels with black marks#Custom size|50.5|30|2|0|Labels with black marks
size=om_w170h85_60x30mm&top-offset=-11&tracking=gap#Top offset -11 mm is outside the printer's -10 to 10 mm.#60 x 30 mm|||0|-11|Labels with gaps#Custom size|50.5|30|2|0|Labels with black marks
size=custom&custom-width=108&custom-length=1001&tracking=gap#Custom length 1001 mm is outside the printer's 10 to 1000 mm.#Custom size|108|1001|0|0|Labels with gaps#Custom size|50.5|30|2|0|Labels with black marks
size=om_w170h85_60x30mm&tracking=continuous#Changes saved.#60 x 30 mm|||0|0|Continuous roll#60 x 30 mm|60|30|0|0|Continuous roll
size=w1h1&tracking=gap#Please choose a label size.#||0|0|Labels with gaps#60 x 30 mm|60|30|0|0|Continuous roll
size=om_w170h85_60x30mm&tracking=roll#Please choose a media tracking.#60 x 30 mm|||0|0#60 x 30 mm|60|30|0|0|Continuous roll
CASES
shelf="printer_name=shelf&driver_name=generic-300dpi&device_uri_typed=file://$T/label.out"
[ "$(web_post addprinter "$shelf")" = 401 ] || fail "add printer without credentials"
[ "$(web_post -u root:x addprinter "$shelf")" = 302 ] || fail "add printer by an administrator"
app printers | grep -qx shelf || fail "the web page added no printer"
# Only a job's owner or an administrator cancels, holds or releases it:
# two jobs of alice's (made with Create-Job, still waiting for a document).
job_op() {  # user:password@ or -, requester, operation, job: prints the status code
  ipptool -tv -d requester="$2" -d op="$3" -d job="$4" "ipp://${1#-}localhost:$PORT/ipp/print/label" \
    "$APP_TESTS/job-op.test" | sed -n 's/^ *status-code = \([a-z-]*\).*/\1/p' || true
}
for _ in 1 2; do ipptool -d requester=alice "$URI" "$APP_TESTS/create-job.test" >/dev/null || fail "Create-Job"; done
read -r second first < <(app jobs -d label | awk 'NR <= 2 { printf "%s ", $1 } END { print "" }')
while read -r credentials requester operation job want; do
  got=$(job_op "$credentials" "$requester" "$operation" "$job")
  [ "$got" = "$want" ] || fail "$requester: $operation of job $job gives $got, not $want"
done <<CASES
- bob Cancel-Job $first client-error-not-authenticated
- bob Hold-Job $first client-error-not-authenticated
- bob Release-Job $first client-error-not-authenticated
- alice Hold-Job $first successful-ok
- alice Release-Job $first client-error-forbidden
- alice Cancel-Job $first successful-ok
root:x@ root Hold-Job $second successful-ok
root:x@ root Cancel-Job $second successful-ok
CASES
[ "$(app jobs -d label | awk -v id="$first" '$1 == id { print $2 }')" = canceled ] || fail "alice's job"

# The control socket admits no one but root, whatever its folder allows.
chmod 0755 "$T" "$T/state"
install -m 0755 "$LBLPRINTER" "$T/lblprinter"
setpriv --reuid=65534 --regid=65534 --clear-groups "$T/lblprinter" pause -o state-directory="$T/state" \
  -d label 2>"$T/nobody.err" && fail "a local user paused the printer"
grep -q "^lblprinter: Permission denied: only the user the server runs as" "$T/nobody.err" || fail "$(cat "$T/nobody.err")"
printer=$(app status -d label)
[[ $printer = Running* ]] || fail "the printer is $printer"
kill -0 "$server_pid" || fail "the server ended"
echo "auth: only administrators change printers; printing stays open"
