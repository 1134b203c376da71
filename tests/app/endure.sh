#!/usr/bin/env bash
# A label line's day: a hundred rasters, pictures and label streams at once, to one printer
# and to eight, each printed exactly once; a pause holds a raster job until
# Resume; a kill -9 mid-label, a restart, and the interrupted job ends aborted
# while the next label reaches the printer whole; SIGTERM ends the server
# with jobs queued, and the next start keeps them; a printer keeps its newest
# completed jobs.
source "$(dirname "$0")/lib.sh"
sim=$T/sim
mkdir "$sim"
echo none >"$sim/status"
python3 "$APP_TESTS/../support/printer_sim.py" "$sim" &
sim_pid=$!
trap 'kill $sim_pid; stop_server; rm -rf "$T"' EXIT
start_server
gs -q -dNOPAUSE -dBATCH -sDEVICE=pnggray -r100 -g300x200 -sOutputFile="$T/label.png" \
  -c "0 setgray 20 20 100 50 rectfill showpage"
"$MAKE_RASTER" -m pwg 480x240,fill=label >"$T/page.pwg"
"$LBLFILTER" 1 u t 1 '' "$T/page.pwg" >"$T/page.lbl" 2>/dev/null
pages() { "$LBLVIEW" "$1" 2>/dev/null | sed -n 's/.*: \([0-9]*\) pages\{0,1\} in .*, valid$/\1/p'; }
count() { app jobs -d "$1" | awk -v s="$2" '$2 == s' | wc -l; }
settle() {  # printer: every job ended
  for _ in $(seq 600); do
    app jobs -d "$1" | grep -qE 'pending|processing|held' || return 0
    sleep 0.1
  done
  fail "the jobs of $1 did not end: $(app jobs -d "$1" | head -3)"
}
submit() {  # printer jobs: rasters, label streams and pictures, every client at once
  local docs=("$T/label.png image/png" "$T/page.pwg image/pwg-raster"
    "$T/page.lbl application/vnd.lblfilter-label") clients=() file format
  for i in $(seq "$2"); do
    read -r file format <<<"${docs[i % 3]}"
    ipptool -T 60 -f "$file" -d format="$format" "ipp://localhost:$PORT/ipp/print/$1" \
      "$APP_TESTS/print-job.test" >/dev/null 2>&1 &
    clients+=($!)
  done
  wait "${clients[@]}" || true
}

# Exactly once: every job completed, its one label on its own printer.
add_printer
submit label 100
settle label
[ "$(count label completed)" = 100 ] && [ "$(pages "$T/label.out")" = 100 ] ||
  fail "100 jobs at once: $(count label completed) completed, $(pages "$T/label.out") labels"
for p in 1 2 3 4 5 6 7 8; do
  app add -d "p$p" -m generic-203dpi -v "file://$T/p$p.out" || fail "add p$p"
done
for p in 1 2 3 4 5 6 7 8; do submit "p$p" 13 & done
wait $(jobs -p | grep -v -e "^$server_pid$" -e "^$sim_pid$")
for p in 1 2 3 4 5 6 7 8; do
  settle "p$p"
  [ "$(count "p$p" completed)" = 13 ] && [ "$(pages "$T/p$p.out")" = 13 ] ||
    fail "p$p: $(count "p$p" completed) completed, $(pages "$T/p$p.out") labels"
done

! grep -q '^Job .*state="[789]"' "$T/state/lblprinter.state" || fail "ended jobs in the state file"

# A paused printer holds a raster job, as it holds a picture, until Resume.
app pause -d label || fail "pause"
submit label 1 &
held=$!
sleep 2
[ "$(pages "$T/label.out")" = 100 ] || fail "a raster job printed on a paused printer"
app resume -d label || fail "resume"
wait $held
settle label
[ "$(pages "$T/label.out")" = 101 ] || fail "after Resume: $(pages "$T/label.out") labels"

# kill -9 while a socket printer has taken part of forty labels: after the
# restart the job has ended aborted, and the next label's BITMAP is read as
# a command where that label's bytes begin.
"$MAKE_RASTER" -m pwg 864x7992,fill=label >"$T/one.pwg"
{ head -c 4 "$T/one.pwg"; for _ in $(seq 40); do tail -c +5 "$T/one.pwg"; done; } >"$T/many.pwg"
for _ in $(seq 100); do [ -s "$sim/port" ] && break; sleep 0.05; done
app add -d slow -m generic-203dpi -v "socket://127.0.0.1:$(cat "$sim/port")" || fail "add slow"
saved() { for _ in $(seq 300); do grep -q "$1" "$T/state/lblprinter.state" && return; sleep 0.05; done; fail "not saved: $1"; }
saved 'name="slow"'  # while printers print, the state is saved every 10 s
ipptool -T 60 -f "$T/many.pwg" -d width=10800 -d length=100000 \
  "ipp://localhost:$PORT/ipp/print/slow" "$APP_TESTS/print-job.test" >/dev/null 2>&1 &
client=$!
for _ in $(seq 600); do [ "$(stat -c %s "$sim/labels" 2>/dev/null || echo 0)" -gt 2000000 ] && break; sleep 0.05; done
touch "$sim/stall"
saved '^Job .*state="5"'
kill -9 "$server_pid"
wait "$server_pid" "$client" || true
server_pid=
rm "$sim/stall"
start_server
job=$(app jobs -d slow | awk 'NR == 1 { print $1 }')
state=$(ipptool -c -d job="$job" "ipp://localhost:$PORT/ipp/print/slow" "$APP_TESTS/../cups/job-state.test" | tail -n 1)
[ "$state" = 'aborted,The server stopped while printing this job; its last label may be incomplete.,' ] ||
  fail "the interrupted job: $state"
wait_job "$(app submit -d slow -o document-format=application/vnd.lblfilter-label "$T/page.lbl" | sed 's/^slow-//')" slow
[ "$state" = completed ] || fail "the label after the restart: $state"
bitmap_at=$(($(stat -c %s "$sim/labels") - $(stat -c %s "$T/page.lbl") + $(grep -abo BITMAP "$T/page.lbl" | cut -d: -f1)))
[ "$(tail -n 1 "$sim/bitmaps")" = "$bitmap_at" ] ||
  fail "the next label's BITMAP is at $(tail -n 1 "$sim/bitmaps"), not $bitmap_at"

# SIGTERM ends the server within seconds; the queued jobs print after the
# next start.
app pause -d label || fail "pause"
for _ in 1 2 3; do app submit -d label "$T/label.png" >/dev/null || fail "submit"; done
started=$SECONDS
kill "$server_pid"
wait "$server_pid" || true
server_pid=
[ $((SECONDS - started)) -le 5 ] || fail "SIGTERM took $((SECONDS - started)) s"
start_server
app resume -d label || fail "resume"
settle label
[ "$(pages "$T/label.out")" = 104 ] || fail "queued across SIGTERM: $(pages "$T/label.out") labels"
# Each printer keeps its newest completed jobs: with a history of 5, the jobs
# that ended in earlier seconds go as newer ones end.
stop_server
start_server -o max-completed-jobs=5
for _ in $(seq 20); do app submit -d label "$T/label.png" >/dev/null || fail "submit"; done
settle label
for _ in 1 2 3 4 5 6; do
  sleep 1.1
  wait_job "$(app submit -d label "$T/label.png" | sed 's/^label-//')"
done
kept=$(count label completed)
[ "$kept" -ge 5 ] && [ "$kept" -le 6 ] || fail "a history of 5 holds $kept jobs"
echo "endure: exactly once at 100 clients on 1 and 8 printers, pause, kill -9, SIGTERM, history"
