#!/usr/bin/env bash
# Cancel: CUPS sends the filter SIGTERM while the backend passes on what it
# already wrote. The printer must receive only whole label sequences, and the
# filter must stop promptly and report success.
source "$(dirname "$0")/support/private-log.sh"
set -euo pipefail
T=$(mktemp -d /tmp/lbl-cancel-XXXXXX)
trap 'rm -rf "$T"' EXIT
cd "$T"
filter=("$LBLFILTER" 1 u t 1 '')
fail() { echo "FAILED: $*"; exit 1; }

# While rows arrive: the first page and half of the second, then the producer
# stalls. The half page is dropped and the job ends at once.
"$MAKE_RASTER" 64x40,fill=random:1 | "${filter[@]}" >want.lbl 2>/dev/null
"$MAKE_RASTER" 64x40,fill=random:1 64x40,fill=random:2 | head -c -1280 >most.ras
mkfifo in
"${filter[@]}" <in >got.lbl 2>/dev/null &
pid=$!
exec 3>in
cat most.ras >&3
# Page 1 reaches the printer while the job waits for more.
for i in $(seq 101); do [ "$(stat -c %s got.lbl)" -ge "$(stat -c %s want.lbl)" ] && break; sleep 0.1; done
[ "$i" -le 100 ] || fail "page 1 was not flushed to the printer while the job waited"
sleep 0.1
kill -TERM $pid
timeout 5 tail --pid=$pid -f /dev/null || fail "the filter did not stop on SIGTERM"
wait $pid || fail "a cancelled job must end as a success, not $?"
exec 3>&-
cmp want.lbl got.lbl || fail "stalled producer: the printer got more or less than page 1"

# While a page is written: pages far larger than a pipe holds, nobody reading.
# The page under way is finished, no other starts.
"$MAKE_RASTER" 4000x800,fill=random:3 | "${filter[@]}" >want.lbl 2>/dev/null
"$MAKE_RASTER" 4000x800,fill=random:3 4000x800,fill=random:3 4000x800,fill=random:3 >big.ras
mkfifo out
"${filter[@]}" <big.ras >out 2>/dev/null &
pid=$!
exec 4<out
sleep 0.3
kill -TERM $pid
cat <&4 >got.lbl
wait $pid || fail "a cancelled job must end as a success, not $?"
cmp want.lbl got.lbl || fail "blocked printer: the printer got part of a page or a second page"
echo "cancel: both cases passed"
