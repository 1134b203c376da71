#!/usr/bin/env bash
# Runs the libFuzzer programs of a build made with -DLBL_FUZZ=ON, then replays
# the saved corpus through each of them.
#   fuzz/run-fuzzers.sh BUILD-DIR SECONDS [TARGET...]
# Each target (raster, options, ppd, lblview, document, pdf; all by default) fuzzes for
# SECONDS, two at a time (FUZZ_JOBS), starting from the saved corpus in
# fuzz/corpus/TARGET and what earlier runs in the same BUILD-DIR found
# (BUILD-DIR/fuzz-work/TARGET). A crash, leak, timeout,
# broken invariant or oversized allocation writes the input to
# BUILD-DIR/fuzz-findings/ and fails the script. SECONDS 0 only replays.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: fuzz/run-fuzzers.sh BUILD-DIR SECONDS [TARGET...]}
seconds=${2:?usage: fuzz/run-fuzzers.sh BUILD-DIR SECONDS [TARGET...]}
shift 2
targets=("$@")
((${#targets[@]})) || targets=(raster options ppd lblview document pdf)
jobs=${FUZZ_JOBS:-2}

# A single allocation of 2 GiB or more is beyond any page the renderer or
# lblview may hold, so libFuzzer reports it; RSS stays well below the
# machine's memory with two fuzzers running.
common=(-malloc_limit_mb=2048 -rss_limit_mb=2560 -timeout=30 -close_fd_mask=2 -print_final_stats=1)
declare -A max_len=([raster]=8192 [options]=4096 [ppd]=8192 [lblview]=4096 [document]=16384 [pdf]=16384)
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0"

findings="$build/fuzz-findings" logs="$build/fuzz-logs"
mkdir -p "$findings" "$logs"

fuzz_one() {  # target
  local t=$1 work="$build/fuzz-work/$1"
  mkdir -p "$work"
  "$build/fuzz/${t}_fuzzer" "${common[@]}" -max_len="${max_len[$t]}" -dict="fuzz/$t.dict" \
    -max_total_time="$seconds" -artifact_prefix="$findings/$t-" \
    "$work" "fuzz/corpus/$t" >"$logs/$t.log" 2>&1
}

status=0
if ((seconds > 0)); then
  pids=() names=()
  for t in "${targets[@]}"; do
    echo "== fuzz $t for $seconds s (log: $logs/$t.log)"
    fuzz_one "$t" &
    pids+=($!) names+=("$t")
    if ((${#pids[@]} >= jobs)); then
      wait "${pids[0]}" || { echo "FINDING in ${names[0]}: see $logs/${names[0]}.log"; status=1; }
      pids=("${pids[@]:1}") names=("${names[@]:1}")
    fi
  done
  for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || { echo "FINDING in ${names[$i]}: see $logs/${names[$i]}.log"; status=1; }
  done
  for t in "${targets[@]}"; do
    echo "$t: $(grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "$logs/$t.log" |
      tr '\n' ' ')"
  done
fi

for t in "${targets[@]}"; do
  echo "== replay fuzz/corpus/$t"
  "$build/fuzz/${t}_fuzzer" "${common[@]}" -runs=0 "fuzz/corpus/$t" >"$logs/$t-replay.log" 2>&1 ||
    { echo "replay of fuzz/corpus/$t failed: see $logs/$t-replay.log"; status=1; }
done
exit $status
