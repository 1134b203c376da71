#!/usr/bin/env bash
# One bad job never stops a label line: a job that cannot be printed ends
# aborted with a message and the next one prints; a job cancelled mid-way
# leaves only whole label sequences; a client gone mid-upload ends only its
# own job; a restart keeps printers and settings;
# looking for devices works whether or not an avahi daemon runs.
source "$(dirname "$0")/lib.sh"
start_server
add_printer
"$MAKE_RASTER" -m pwg 480x240,fill=label >"$T/page.pwg"
"$LBLFILTER" 1 u t 1 '' "$T/page.pwg" >"$T/page.lbl" 2>/dev/null
message() { ipptool -c -d job="$1" "$URI" "$APP_TESTS/../cups/job-state.test" | tail -n 1; }

gs -q -dNOPAUSE -dBATCH -sDEVICE=jpeggray -r100 -g300x200 -sOutputFile="$T/good.jpg" \
  -c "0 setgray 20 20 100 50 rectfill showpage"
{ head -c 400 "$T/good.jpg"; head -c 3000 /dev/zero; } >"$T/bad.jpg"
print_ipp "$T/bad.jpg" format=image/jpeg
[[ $(message 1) =~ ^aborted,\"?[A-Za-z] ]] || fail "a damaged JPEG must abort with a message: $(message 1)"
"$MAKE_RASTER" -m pwg 832x3000000,rows=0 >"$T/huge.pwg"
print_ipp "$T/huge.pwg"
[ "$(message 2)" = "aborted,Page 1 is too large for the printer (832 x 3000000 dots)," ] ||
  fail "a page beyond the printer's limits: $(message 2)"
head -c 300 "$T/page.lbl" >"$T/cut.lbl"
print_ipp "$T/cut.lbl" format=application/vnd.lblfilter-label
[[ $(message 3) = 'aborted,"Not a label stream the printer takes: page 1, BITMAP'* ]] ||
  fail "a cut label stream must not reach the printer: $(message 3)"
truncate -s 400M "$T/huge.lbl"
print_ipp "$T/huge.lbl" format=application/vnd.lblfilter-label
[ "$(message 4)" = "aborted,The label stream is 419430400 bytes; the printer takes at most 268435456 bytes (256 MiB) a job," ] ||
  fail "a stream beyond the job bound: $(message 4)"
print_ipp "$T/page.pwg"
[ "$state" = completed ] && [ -s "$T/label.out" ] || fail "the job after bad ones: $state"
"$LBLVIEW" -q "$T/label.out" || fail "the label after a bad job"
# 80 MiB of labels go out checked and whole, in the memory of one label.
"$MAKE_RASTER" -m pwg 832x1200,fill=gradient | "$LBLFILTER" 1 u t 1 '' >"$T/one.lbl" 2>/dev/null
printf "$T/one.lbl\n%.0s" $(seq 640) | xargs cat >"$T/big.lbl"
: >"$T/label.out"
print_ipp "$T/big.lbl" format=application/vnd.lblfilter-label
[ "$state" = completed ] && cmp -s "$T/big.lbl" "$T/label.out" || fail "80 MiB of labels: $state"
rm -f "$T/big.lbl" "$T/huge.lbl" "$T"/state/spool/*
peak=$(awk '/^VmHWM/ { print int($2 / 1024) }' "/proc/$server_pid/status")
[ "$peak" -lt 64 ] || fail "the server took $peak MiB"

# Forty labels of the largest size (one page's header and rows, forty times
# after the stream's sync word) to a printer on a socket that takes the first
# 192 KiB and then reads no further until told, so the job is still printing
# when cancelled.
# The status polls of an idle printer come on short connections of their
# own, before the job's: what they send is not the job's.
"$MAKE_RASTER" -m pwg 864x7992,fill=label >"$T/one.pwg"
{ head -c 4 "$T/one.pwg"; for _ in $(seq 40); do tail -c +5 "$T/one.pwg"; done; } >"$T/many.pwg"
coproc slow {
  python3 -c 'import socket, sys
server = socket.create_server(("127.0.0.1", 0))
print(server.getsockname()[1], flush=True)
with open(sys.argv[1] + "/slow.out", "wb") as out:
    while out.tell() < 196608:
        out.seek(0)
        out.truncate()
        conn, _ = server.accept()
        while out.tell() < 196608 and (data := conn.recv(65536)): out.write(data)
    print("taken", flush=True)
    sys.stdin.readline()
    while data := conn.recv(65536): out.write(data)' "$T"
}
slow_pid=$slow_PID
read -r slow_port <&"${slow[0]}"
app add -d slow -m generic-203dpi -v "socket://127.0.0.1:$slow_port" || fail "add slow"
ipptool -f "$T/many.pwg" -d width=10800 -d length=100000 "ipp://localhost:$PORT/ipp/print/slow" \
  "$APP_TESTS/print-job.test" >/dev/null &
read -r -t 60 _ <&"${slow[0]}" || fail "the socket printer got no labels"
job=$(app jobs -d slow | awk 'NR == 1 { print $1 }')
app cancel -d slow -j "$job" || fail "cancel job $job"
echo go >&"${slow[1]}"
wait "$slow_pid" $! || true
wait_job "$job" slow
[ "$state" = canceled ] || fail "the cancelled job is $state"
pages=$("$LBLVIEW" "$T/slow.out" | sed -n 's/.*: \([0-9]*\) pages\{0,1\} in .*, valid$/\1/p')
[ -n "$pages" ] && [ "$pages" -lt 40 ] || fail "cancelled: $("$LBLVIEW" "$T/slow.out" 2>&1 | tail -1)"

# A client gone halfway through its document: the job ends with a reason,
# nothing of it reaches the printer, and the server goes on.
: >"$T/label.out"
newest() { app jobs -d label | awk '{ print $1 }' | sort -n | tail -n 1; }
before=$(newest)
python3 - "$PORT" "$T/good.jpg" <<'PY'
import socket, struct, sys
port, doc = sys.argv[1], open(sys.argv[2], "rb").read()
def attr(tag, name, value):
    return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value)) + value.encode()
ipp = (b"\x02\x00\x00\x02\x00\x00\x00\x01\x01" + attr(0x47, "attributes-charset", "utf-8")
       + attr(0x48, "attributes-natural-language", "en")
       + attr(0x45, "printer-uri", f"ipp://localhost:{port}/ipp/print/label")
       + attr(0x42, "requesting-user-name", "tester") + attr(0x49, "document-format", "image/jpeg")
       + b"\x03" + doc[: len(doc) // 2])
client = socket.create_connection(("localhost", int(port)))
client.sendall(f"POST /ipp/print/label HTTP/1.1\r\nHost: localhost:{port}\r\nContent-Type: "
               "application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n".encode()
               + b"%x\r\n" % len(ipp) + ipp + b"\r\n")
client.close()
PY
for _ in $(seq 100); do job=$(newest); [ "$job" != "$before" ] && break; sleep 0.05; done
wait_job "$job"
[ "$state" = canceled ] || fail "the job of a client gone mid-upload is $state"
[ ! -s "$T/label.out" ] || fail "a half-sent document reached the printer"
wait_job "$(app submit -d label "$T/good.jpg" | sed 's/^label-//')"
[ "$state" = completed ] || fail "the job after a client gone mid-upload: $state"

# Printers and every setting lblprinter offers survive a restart (PAPPL 1.3.1
# alone forgets a darkness of 0 and the default speed); a job without
# options prints with them all.
local_uri="ipp://${T//\//%2F}%2Fstate%2Flblprinter.sock/ipp/print/label"
ipptool -t "$local_uri" "$APP_TESTS/set-printer-settings.test" >"$T/ipptool.out" || fail "$(cat "$T/ipptool.out")"
stop_server
start_server
ipptool -t "$local_uri" "$APP_TESTS/printer-settings.test" >"$T/ipptool.out" ||
  fail "after a restart: $(cat "$T/ipptool.out")"
: >"$T/label.out"
wait_job "$(app submit -d label "$T/page.pwg" | sed 's/^label-//')"
"$LBLFILTER" 1 u t 1 "PageSize=w170h85 Darkness=3 PrintSpeed=20 LabelMode=Cutter MediaType=Mark \
  Horizontal=8 Vertical=-16 Dither=Ordered8 PrintDirection=Reverse" "$T/page.pwg" >"$T/want.lbl" 2>/dev/null
cmp -s "$T/want.lbl" "$T/label.out" || fail "after a restart: $("$LBLVIEW" "$T/label.out" | head -12)"
app devices >/dev/null || fail "devices"
echo "robust: bad jobs abort, cancels leave whole labels, restarts keep the printers"
