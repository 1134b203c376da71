#!/usr/bin/env bash
# Runs one golden case: a folder holding `cmd` (one command line) and what it
# must give: `out` (standard output), `err` (standard error), `status` (exit
# status; absent means 0), `log` (the filter's log without its time stamps,
# compared only when the case has one) and `out.NAME` (a file the command
# writes as $T/NAME). Optional inputs: `in` (standard input) and `ppd` (the
# queue's PPD, named by PPD as $T/queue.ppd).
#
#   run.sh CASE_DIR [--update]      --update rewrites the expected files
#
# The command runs in a private mount namespace (private-log.sh), where the
# filter writes its log at its fixed path without touching the host's. `cmd`
# finds the build's lblfilter, lblview and make-raster (LBLFILTER, LBLVIEW,
# MAKE_RASTER) on its PATH, and can use T (a scratch folder, whose path `err`
# and `log` show as $T), CASE (the case folder) and TESTS (the tests folder).
set -u
case_dir=$(cd "$1" && pwd)
update=${2:-}
source "$(dirname "$0")/../support/private-log.sh"
if [ -e "$case_dir/skip-under-asan" ] && [ -n "${LBL_SANITIZE:-}" ]; then
  echo "skipped: the sanitizer's shadow memory needs the address space this case limits"
  exit 77
fi
T=$(mktemp -d /tmp/lbl-golden-XXXXXX)
chmod 0755 "$T"
trap 'rm -rf "$T"' EXIT
mkdir "$T/bin"
ln -s "$LBLFILTER" "$T/bin/lblfilter"
ln -s "$LBLVIEW" "$T/bin/lblview"
ln -s "$MAKE_RASTER" "$T/bin/make-raster"
export T CASE=$case_dir TESTS=$(cd "$(dirname "$0")/.." && pwd) PATH=$T/bin:$PATH
unset PPD
[ -e "$case_dir/ppd" ] && cp "$case_dir/ppd" "$T/queue.ppd" && export PPD=$T/queue.ppd
input=/dev/null
[ -e "$case_dir/in" ] && input=$case_dir/in

(cd "$T" && bash -c "$(cat "$case_dir/cmd")" <"$input" >"$T/.out" 2>"$T/.err")
status=$?
if [ $status = 0 ]; then : >"$T/.status"; else echo $status >"$T/.status"; fi
log=/var/log/cups/mervane.log
: >"$T/.log"
[ -f $log ] && sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} //' $log >"$T/.log"
sed -i "s#$T#\$T#g" "$T/.err" "$T/.log"

failed=0
check() {  # expected-file actual-file; an absent expected file means empty
  local want=$case_dir/$1 got=$2
  if [ -n "$update" ]; then
    if [ -s "$got" ]; then cp "$got" "$want"; else rm -f "$want"; fi
  elif ! cmp -s <(cat "$want" 2>/dev/null || true) "$got"; then
    echo "--- $1 differs (expected, then actual):"
    if [ ! -s "$got" ] || grep -qI . "$got"; then
      diff <(cat "$want" 2>/dev/null || true) "$got" | head -40
    else
      cmp <(cat "$want" 2>/dev/null || true) "$got" | head -5
    fi
    failed=1
  fi
}
check out "$T/.out"
check err "$T/.err"
check status "$T/.status"
[ -e "$case_dir/log" ] && check log "$T/.log"
for want in "$case_dir"/out.*; do
  [ -e "$want" ] && check "$(basename "$want")" "$T/${want##*/out.}"
done
exit $failed
