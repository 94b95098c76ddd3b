#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, at most JOBS at once, and prints
# executions and coverage per target. New inputs go to a work directory in the
# build tree; the kept corpus is only read. A finding leaves its input in
# <build>/artifacts/ and makes the run fail.
# Usage: fuzz/run.sh BUILD_DIR SECONDS JOBS [TARGET...]
set -u
build=$1 seconds=$2 jobs=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(decoder_output mappings_file playlist_file line_keys plugin_keys display_charset bridge_clients)
fi
mkdir -p "$build/work" "$build/artifacts" "$build/logs"

run_one() {
  local t=$1
  mkdir -p "$build/work/$t"
  "$build/bin/fuzz_$t" "$build/work/$t" "$here/corpus/$t" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" >"$build/logs/$t.log" 2>&1
  echo $? >"$build/logs/$t.rc"
}

running=0
for t in "${targets[@]}"; do
  echo "fuzzing $t for ${seconds}s"
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-16s %12s %8s %8s %10s %s\n' target executions cov ft seconds result
for t in "${targets[@]}"; do
  log=$build/logs/$t.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov: ' | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  if [ "$(cat "$build/logs/$t.rc")" = 0 ]; then result=ok; else result="FINDING (see $log)"; failed=1; fi
  printf '%-16s %12s %8s %8s %10s %s\n' "$t" "${runs:-?}" "${cov:-?}" "${ft:-?}" "${took:-?}" "$result"
done
exit $failed
