# Shared by the Printer Application's scenarios, sourced first (after
# cups/lib.sh when a scenario needs a cupsd too): an lblprinter server of the
# test's own on a free loopback port, its state, control socket, spool and log
# in the scratch folder, and the helpers that drive it.
if [ -z "${T:-}" ]; then
  source "$(dirname "${BASH_SOURCE[0]}")/../support/private-log.sh"
  set -euo pipefail
  T=$(mktemp -d /tmp/lbl-app-XXXXXX)
  trap 'stop_server; rm -rf "$T"' EXIT
  fail() { echo "FAILED: $*"; tail -20 "$T/server.log" 2>/dev/null; grep -A60 -m1 Sanitizer "$T/server.out" 2>/dev/null; exit 1; }
else  # the cupsd scenario's trap stops its cupsd and removes T
  trap "stop_server; $(trap -p EXIT | sed "s/^trap -- '\(.*\)' EXIT$/\1/")" EXIT
fi
for tool in ipptool curl python3; do
  command -v $tool >/dev/null || { echo "missing prerequisite: $tool"; [ -n "${LBL_REQUIRE_PREREQUISITES:-}" ] && exit 1; exit 77; }
done
APP_TESTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# PAPPL's leaks (lsan.supp) show its functions only in stacks unwound the
# slow way: libpappl and libcups keep no frame pointers.
export LSAN_OPTIONS=suppressions=$APP_TESTS/lsan.supp:fast_unwind_on_malloc=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}
# ASan keeps freed blocks in a quarantine of 256 MiB: a server that reuses a
# label-sized buffer per page would show the quarantine as its peak memory.
export ASAN_OPTIONS=quarantine_size_mb=16${ASAN_OPTIONS:+:$ASAN_OPTIONS}
# Races inside PAPPL and libcups themselves (tsan.supp) are not lblprinter's.
export TSAN_OPTIONS=suppressions=$APP_TESTS/tsan.supp:halt_on_error=1${TSAN_OPTIONS:+:$TSAN_OPTIONS}
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
URI=ipp://localhost:$PORT/ipp/print/label
server_pid=

app() {  # sub-command, arguments...: lblprinter on this test's instance
  local command=$1
  shift
  "$LBLPRINTER" "$command" -o state-directory="$T/state" "$@"
}

start_server() {  # server options...: the server makes its state folder itself
  "$LBLPRINTER" server -o state-directory="$T/state" -o server-port="$PORT" \
    -o log-file="$T/server.log" -o log-level=info "$@" >"$T/server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 200); do
    [ -S "$T/state/lblprinter.sock" ] && curl -sfo /dev/null "http://localhost:$PORT/" && return
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  fail "the server did not start: $(cat "$T/server.out")"
}

stop_server() {  # a sanitizer's report (a leak shows at exit) fails the test
  [ -z "$server_pid" ] || { kill "$server_pid" 2>/dev/null; wait "$server_pid" || true; }
  server_pid=
  ! grep -q "Sanitizer" "$T/server.out" 2>/dev/null || fail "$(cat "$T/server.out")"
}

add_printer() {  # driver: a printer "label" whose device is $T/label.out, made by add
  rm -f "$T/label.out"
  app add -d label -m "${1:-generic-203dpi}" -v "file://$T/label.out" || fail "add ${1:-}"
}

# Submits with ipptool (print-job.test; NAME=VALUE sets its variables) and
# waits until the job has ended; its state is then in $state.
print_ipp() {  # file NAME=VALUE...
  local file=$1 defines=()
  shift
  for define in "$@"; do defines+=(-d "$define"); done
  ipptool -f "$file" "${defines[@]}" "$URI" "$APP_TESTS/print-job.test" >"$T/ipptool.out" ||
    fail "Print-Job $*: $(cat "$T/ipptool.out")"
  wait_job "$(app jobs -d label | awk 'NR == 1 { print $1 }')"
}

wait_job() {  # job-id [printer]
  for _ in $(seq 400); do
    state=$(app jobs -d "${2:-label}" | awk -v id="$1" '$1 == id { print $2 }')
    case $state in completed | aborted | canceled) return ;; esac
    sleep 0.05
  done
  fail "job $1 did not end: $state"
}
