# Shared by the CUPS scenarios, sourced first: a scratch folder, a CUPS server
# directory holding the built filter beside the system's own filters, a
# private cupsd, and the checks a printed label must pass.
source "$(dirname "${BASH_SOURCE[0]}")/../support/private-log.sh"
set -euo pipefail
PPDS=$LBL_BUILD/ppd/ppd
SAMPLES=$LBL_BUILD/samples
T=$(mktemp -d /tmp/lbl-cups-XXXXXX)
chmod 0755 "$T"
cupsd_pid=
trap '[ -z "$cupsd_pid" ] || kill "$cupsd_pid" 2>/dev/null; wait; rm -rf "$T"' EXIT

fail() {
  echo "FAILED: $*"
  [ -e "$T/log/error_log" ] && tail -30 "$T/log/error_log"
  exit 1
}

for tool in cupsd lpadmin lp cupsfilter zbarimg gs; do
  command -v $tool >/dev/null || PATH=$PATH:/usr/sbin command -v $tool >/dev/null ||
    { echo "missing prerequisite: $tool"; [ -n "${LBL_REQUIRE_PREREQUISITES:-}" ] && exit 1; exit 77; }
done
[ -e "$PPDS/lbl203.ppd" ] && [ -e "$SAMPLES/shipping-label.pdf" ] || fail "no PPDs or samples built"
export PATH=$PATH:/usr/sbin

# The system's CUPS server directory with the built filter in it, root-owned
# and mode 0755 as CUPS demands of filters; tests may add backends of their
# own.
make_server_bin() {
  for dir in /usr/lib/cups/*; do
    case ${dir##*/} in
      filter | backend) mkdir -p "$T/serverbin/${dir##*/}" && ln -s "$dir"/* "$T/serverbin/${dir##*/}/" ;;
      *) ln -s "$dir" "$T/serverbin/" ;;
    esac
  done
  rm -f "$T/serverbin/filter/lblfilter"
  install -m 0755 "$LBLFILTER" "$T/serverbin/filter/lblfilter"
  printf 'ServerBin %s\n' "$T/serverbin" >"$T/cupsfilter.conf"
}

# A cupsd of the test's own, on a socket in the scratch folder; its filters
# run as lp. DataDir, when given, is where its driver listing looks.
start_cupsd() {  # [data-dir]
  make_server_bin
  mkdir -p "$T/etc/ppd" "$T/spool/tmp" "$T/cache" "$T/run" "$T/log" "$T/dev"
  printf '%s\n' "Listen $T/cupsd.sock" "LogLevel debug" "Browsing No" "WebInterface No" \
    "<Location />" "Order allow,deny" "Allow all" "</Location>" >"$T/etc/cupsd.conf"
  printf '%s\n' "ServerRoot $T/etc" "RequestRoot $T/spool" "TempDir $T/spool/tmp" \
    "CacheDir $T/cache" "StateDir $T/run" "ServerBin $T/serverbin" "ErrorLog $T/log/error_log" \
    "AccessLog $T/log/access_log" "PageLog $T/log/page_log" "FileDevice Yes" \
    "SystemGroup root" "User lp" "Group lp" ${1:+"DataDir $1"} >"$T/etc/cups-files.conf"
  cupsd -f -c "$T/etc/cupsd.conf" -s "$T/etc/cups-files.conf" >"$T/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  export CUPS_SERVER=$T/cupsd.sock
  unset PRINTER LPDEST
  for _ in $(seq 200); do lpstat -r 2>/dev/null | grep -q "is running" && return; sleep 0.05; done
  fail "cupsd did not start: $(cat "$T/log/cupsd.out")"
}

# "job-state,job-state-message,job-printer-state-message" of a job.
job_state() {  # job-id
  ipptool -c -d job="$1" "ipp://${CUPS_SERVER//\//%2F}/printers/label" \
    "$(dirname "${BASH_SOURCE[0]}")/job-state.test" | tail -n 1
}

# Submits a job with lp and waits until it has ended or stopped, or stopped
# the queue; its id is then in $job, its state in $state and the device's
# bytes in $T/dev/label.out.
print_job() {  # lp arguments...
  rm -f "$T/dev/label.out"
  job=$(lp -d label "$@" | sed -n 's/^request id is label-\([0-9]*\) .*/\1/p')
  [ -n "$job" ] || fail "lp $*"
  for _ in $(seq 600); do
    state=$(job_state "$job")
    case $state in completed,* | aborted,* | canceled,* | processing-stopped,*) return ;; esac
    [[ $state = pending,* ]] && lpstat -p label | grep -q disabled && return
    sleep 0.1
  done
  fail "job $job did not end: $state"
}

# One line per page of a label stream: size, media, label mode, direction,
# speed, density, bitmap and copies.
summary() {  # stream [dpi]
  "$LBLVIEW" --dpi "${2:-203}" "$1" 2>"$T/lblview.err" | awk '
    $1 == "label" && $2 != "mode" { size = $2 "x" $4 } $1 == "media" { media = $2 }
    $1 == "label" && $2 == "mode" { mode = $3 } $1 == "direction" { direction = $2 }
    $1 == "speed" { speed = $2 } $1 == "density" { density = $2 }
    $1 == "bitmap" { bitmap = $2 "x" $4 " at " $7 }
    $1 == "copies" { print size, media, mode, direction, "speed", speed, "density", density,
                     "bitmap", bitmap, "copies", $2 }'
}

# The stream must be exactly the pages `want` describes, and the barcodes of
# its first page's bitmap must scan.
check_label() {  # stream dpi want barcode...
  local stream=$1 dpi=$2 want=$3
  shift 3
  local got
  got=$(summary "$stream" "$dpi") || fail "lblview refuses $stream"
  [ "$got" = "$want" ] || fail "label: want \"$want\", got \"$got\""
  "$LBLVIEW" -q --png -o "$T/label.png" "$stream" 2>/dev/null
  got=$( (zbarimg -q "$T/label.png" 2>/dev/null || true) | sort | paste -sd' ')
  [ "$got" = "$*" ] || fail "barcodes: want \"$*\", got \"$got\""
}
