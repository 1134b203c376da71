#!/usr/bin/env bash
# Who may change what: changing a printer over IPP or through the web
# interface's forms and buttons without an administrator's credentials is
# refused and changes nothing, while printing goes on; an administrator may.
# In this test's own mount namespace the PAM service lbl-test admits root and
# three accounts of its own, with any password: lbl-clerk (no
# administrator), lbl-member (listed in lpadmin) and lbl-keeper (lpadmin as
# its primary group). The web pages show the media and darkness settings to
# anyone, and the Add Printer page too, without ending the server where no
# avahi daemon runs.
source "$(dirname "$0")/lib.sh"
mkdir "$T/pam.d"
printf '%s\n' "auth required pam_succeed_if.so quiet user in root:lbl-clerk:lbl-member:lbl-keeper" \
  "account required pam_permit.so" >"$T/pam.d/lbl-test"
mount --bind "$T/pam.d" /etc/pam.d
for file in passwd group; do cp "/etc/$file" "$T/$file"; done
grep -q '^lpadmin:' "$T/group" || echo "lpadmin:x:61000:" >>"$T/group"
sed -i -E '/^lpadmin:/ { s/:$/:lbl-member/; t; s/$/,lbl-member/ }' "$T/group"
lpadmin_gid=$(awk -F: '$1 == "lpadmin" { print $3 }' "$T/group")
# The clerk's own group comes last: a lookup of a group that does not exist
# (wheel, on Debian) must not take the last group read for it.
for account in "lbl-keeper:61003:$lpadmin_gid" lbl-member:61002:61002 lbl-clerk:61001:61001; do
  IFS=: read -r name uid gid <<<"$account"
  echo "$name:x:$uid:$gid::/nonexistent:/usr/sbin/nologin" >>"$T/passwd"
  [ "$gid" != "$uid" ] || echo "$name:x:$gid:" >>"$T/group"
done
# Looked up in those files only, whatever name services the host has.
sed -E 's/^(passwd|group):.*/\1: files/' /etc/nsswitch.conf >"$T/nsswitch.conf"
for file in passwd group nsswitch.conf; do mount --bind "$T/$file" "/etc/$file"; done
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
  session=$(curl -s "${@:1:$#-2}" "$page" | sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p' | head -1)
  curl -s -o /dev/null -w '%{http_code}' "${@:1:$#-2}" -d "session=$session&${!#}" "$page"
}

curl -sf "http://localhost:$PORT/addprinter" | grep -q 'value="generic-300dpi"' || fail "add printer page"
page=$(curl -sf "http://localhost:$PORT/label/printing") || fail "the printing defaults page"
[[ $page = *"<option value=\"53\" selected>53%"* ]] || fail "the page shows no darkness"
curl -sf "http://localhost:$PORT/label/media" | grep -q ">60 x 30 mm<" || fail "the media page shows no sizes"

[ "$(set_darkness "" 100)" = client-error-not-authenticated ] || fail "IPP change without credentials"
[ "$(set_darkness nobody:x@ 100)" = client-error-not-authenticated ] || fail "IPP change by a user PAM refuses"
density_printed 8
[ "$(set_darkness root:x@ 80)" = successful-ok ] || fail "IPP change by an administrator"
density_printed 12
[ "$(web_post -u root:x label/printing print-darkness=100)" = 200 ] || fail "web form by an administrator"
density_printed 15
[ "$(web_post -u root:x label/label-mode label-mode-configured=cutter)" = 200 ] || fail "label mode page"
curl -sf "http://localhost:$PORT/label/label-mode" | grep -q '"cutter" selected>' || fail "the page shows no cutter"
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
# Two printers added on the web page, each with the driver chosen: each
# prints, and each is deleted.
for printer in shelf:203 bench:300; do
  name=${printer%:*} dpi=${printer#*:}
  form="printer_name=$name&driver_name=generic-${dpi}dpi&device_uri_typed=file://$T/$name.out"
  [ "$(web_post -u root:x addprinter "$form")" = 302 ] || fail "add printer $name"
  got=$(ipptool -tv -d name=printer-resolution-default "ipp://localhost:$PORT/ipp/print/$name" \
    "$APP_TESTS/printer-attribute.test" | sed -n 's/^ *printer-resolution-default ([^)]*) = //p')
  [ "$got" = "${dpi}dpi" ] || fail "$name prints at $got, not ${dpi}dpi"
done
for name in shelf bench; do
  ipptool -f "$T/page.pwg" "ipp://localhost:$PORT/ipp/print/$name" "$APP_TESTS/print-job.test" >/dev/null ||
    fail "Print-Job on $name"
  wait_job "$(app jobs -d $name | awk 'NR == 1 { print $1 }')" $name
  [ "$state" = completed ] && [ -s "$T/$name.out" ] || fail "$name: $state, $(wc -c <"$T/$name.out") bytes"
done
for name in shelf bench; do app delete -d $name || fail "delete $name"; done
app add -d spare -m generic-203dpi -v "file://$T/spare.out" && app delete -d spare || fail "delete right after add"
[ "$(app printers)" = label ] || fail "printers after deleting: $(app printers)"
# Every sender on every door of the printer, each change read back where it
# shows: refused ones change nothing, allowed ones change what they name.
printer_op() {  # user:password@ or nothing, operation: prints the status code
  ipptool -tv -d op="$2" "ipp://$1localhost:$PORT/ipp/print/label" "$APP_TESTS/printer-op.test" |
    sed -n 's/^ *status-code = \([a-z-]*\).*/\1/p' || true
}
effect() {  # what: the printer attribute, or jobs, sound, printers
  case $1 in
    jobs) app jobs -d label | wc -l ;;
    sound) grep -c SOUND "$T/label.out" || true ;;
    printers) app printers | tr '\n' ' ' ;;
    *) ipptool -tv -d name="$1" "$URI" "$APP_TESTS/printer-attribute.test" | sed -n "s/^ *$1 ([^)]*) = //p" ;;
  esac
}
undo() {  # puts back every change of the table
  app resume -d label
  printer_op root:x@ Release-Held-New-Jobs >/dev/null
  app modify -d label -o label-mode-configured=tear-off -o printer-darkness-configured=53
  ! app printers | grep -qx shelf || app delete -d shelf
  wait_job "$(app jobs -d label | awk 'NR == 1 { print $1 }')"
}
undo
senders=("" lbl-clerk:secret lbl-member:secret lbl-keeper:secret)
while read -r door page request what none clerk member keeper; do
  codes=("$none" "$clerk" "$member" "$keeper")
  for i in 0 1 2 3; do
    sender=${senders[$i]} want=${codes[$i]} before=$(effect "$what")
    if [ "$door" = ipp ]; then
      got=$(printer_op "${sender:+$sender@}" "$request")
    else
      got=$(web_post ${sender:+-u "$sender"} "$page" "${request//@T/$T}")
    fi
    after=$(effect "$what")
    [ "$got" = "${want%:same}" ] || fail "${sender:-no credentials}: $door $request gives $got, not $want"
    case $want in  # the status, and ":same" when the request is answered but changes nothing
      successful-ok | 200 | 302 | 303)
        [ "$after" != "$before" ] || fail "${sender:-anyone}: $request changed no $what ($before)"
        undo ;;
      *) [ "$after" = "$before" ] || fail "${sender:-anyone}: $request changed $what: $after" ;;
    esac
  done
done <<'CASES'
ipp - Pause-Printer printer-state client-error-not-authenticated client-error-forbidden successful-ok successful-ok
ipp - Hold-New-Jobs printer-state-reasons client-error-not-authenticated client-error-forbidden successful-ok successful-ok
ipp - 0x4c02 jobs client-error-not-authenticated client-error-forbidden successful-ok successful-ok
ipp - Identify-Printer sound successful-ok successful-ok successful-ok successful-ok
web label/ action=pause-printer printer-state 401 403 200 200
web label/ action=hold-new-jobs printer-state-reasons 401 403 200 200
web label/ action=print-test-page jobs 401 403 200 200
web label/ action=identify-printer sound 303 303 200 200
web label/label-mode label-mode-configured=cutter label-mode-configured 401 403 200 200
web label/printing print-darkness=100 printer-darkness-configured 401 403 200 200
web addprinter printer_name=shelf&driver_name=generic-300dpi&device_uri_typed=file://@T/shelf.out printers 401 403 302 302
web label/label-mode label-mode-configured=sideways label-mode-configured 401 403 200:same 200:same
web label/label-mode label-mode=cutter label-mode-configured 401 403 200:same 200:same
web addprinter driver_name=generic-300dpi&device_uri_typed=file://@T/shelf.out printers 401 403 200:same 200:same
CASES

# Every other change over IPP is refused without credentials, and changes nothing.
before=$(effect printer-state; effect printer-state-reasons; effect printer-is-accepting-jobs; effect printers)
for op in Resume-Printer Pause-Printer-After-Current-Job Disable-Printer Release-Held-New-Jobs Cancel-Jobs \
  Cancel-My-Jobs Set-Printer-Attributes 0x4c01 system:Delete-Printer system:Pause-All-Printers \
  system:Disable-All-Printers system:Shutdown-All-Printers system:Set-System-Attributes; do
  if [[ $op = system:* ]]; then
    got=$(ipptool -tv -d op="${op#system:}" "ipp://localhost:$PORT/ipp/system" "$APP_TESTS/system-op.test" |
      sed -n 's/^ *status-code = \([a-z-]*\).*/\1/p' || true)
  else
    got=$(printer_op "" "$op")
  fi
  [ "$got" = client-error-not-authenticated ] || fail "$op without credentials: $got"
done
after=$(effect printer-state; effect printer-state-reasons; effect printer-is-accepting-jobs; effect printers)
[ "$after" = "$before" ] && kill -0 "$server_pid" || fail "refused operations changed $before to $after"

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

# One server per state folder, and no server started behind a sub-command's back.
"$LBLPRINTER" server -o state-directory="$T/state" -o server-port=0 2>"$T/second.err" && fail "a second server"
grep -q "^lblprinter: A server (process $server_pid) already runs on $T/state;" "$T/second.err" ||
  fail "$(cat "$T/second.err")"
"$LBLPRINTER" printers -o state-directory="$T/none" 2>"$T/none.err" && fail "printers without a server"
grep -q "^lblprinter: No server is running on $T/none/lblprinter.sock. Start one" "$T/none.err" &&
  [ ! -e "$T/none" ] || fail "$(cat "$T/none.err")"
# Asked for, a sub-command starts a private server in its folder: never on
# the service's port, 8631 (21B7 in /proc/net/tcp's hexadecimal).
"$LBLPRINTER" printers -o state-directory="$T/own" -o private-server=yes || fail "no private server"
own=$(head -1 "$T/own/lblprinter.lock")
inodes=" $(ls -l "/proc/$own/fd" | sed -n 's/.*socket:\[\([0-9]*\)\]/\1/p' | tr '\n' ' ') "
ports=$(awk -v inodes="$inodes" '$4 == "0A" && index(inodes, " " $10 " ") { split($2, a, ":"); print a[2] }' \
  /proc/net/tcp /proc/net/tcp6 | sort -u)
"$LBLPRINTER" shutdown -o state-directory="$T/own"
[ -n "$ports" ] && ! grep -qx 21B7 <<<"$ports" || fail "the private server listens on $ports"

# The control socket admits no one but its server's user, whatever its folder
# allows: root's, and that of a server run by nobody, which is in its folder.
chmod 0755 "$T" "$T/state"
install -m 0755 "$LBLPRINTER" "$T/lblprinter"
as() { local uid=$1; shift; setpriv --reuid="$uid" --regid="$uid" --clear-groups "$@"; }
trap "[ -z \"\${nobody_pid:-}\" ] || kill \$nobody_pid; $(trap -p EXIT | sed "s/^trap -- '\(.*\)' EXIT$/\1/")" EXIT
install -d -o 65534 -g 65534 "$T/nobody"
as 65534 "$T/lblprinter" server -o state-directory="$T/nobody/state" -o server-port=0 -o auth-service=none \
  -o log-file="$T/nobody/log" &
nobody_pid=$! socket=$T/nobody/state/lblprinter65534.sock
for _ in $(seq 100); do [ "$(stat -c %a "$socket" 2>/dev/null)" = 600 ] && break; sleep 0.05; done
[ "$(stat -c %a "$socket")" = 600 ] || fail "nobody's control socket: $(ls -l "$socket")"
as 65534 curl -sf --unix-socket "$socket" -o /dev/null http://localhost/ || fail "nobody's own socket"
chmod 0755 "$T/nobody/state"
! as 65533 curl -s --unix-socket "$socket" -o /dev/null http://localhost/ || fail "another user used it"
as 65534 "$T/lblprinter" shutdown -o state-directory="$T/nobody/state"
wait $nobody_pid
nobody_pid=
setpriv --reuid=65534 --regid=65534 --clear-groups "$T/lblprinter" pause -o state-directory="$T/state" \
  -d label 2>"$T/nobody.err" && fail "a local user paused the printer"
grep -q "^lblprinter: Permission denied: only the user the server runs as" "$T/nobody.err" || fail "$(cat "$T/nobody.err")"
printer=$(app status -d label)
[[ $printer = Running* ]] || fail "the printer is $printer"
kill -0 "$server_pid" || fail "the server ended"
echo "auth: only administrators change printers; printing stays open"
