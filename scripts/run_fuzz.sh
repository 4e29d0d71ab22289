#!/usr/bin/env bash
# Runs every fuzz harness in BUILD_DIR for SECONDS each, two at a time,
# starting from the committed seeds (tests/fuzz/corpus/<harness>, read
# only) and a working corpus under BUILD_DIR/corpus. Prints executions per
# harness; exits non-zero when any harness found a crash, a sanitizer
# report or an oracle mismatch (the input is kept in BUILD_DIR/artifacts).
# Usage: run_fuzz.sh BUILD_DIR SECONDS
set -uo pipefail
build=$1
seconds=$2
repo=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/corpus" "$build/artifacts" "$build/logs"

run_one() {
  local exe=$1 seconds=$2 build=$3 repo=$4
  local name=${exe##*/fuzz_}
  local seeds="$repo/tests/fuzz/corpus/$name"
  mkdir -p "$build/corpus/$name" "$build/artifacts/$name"
  [ -d "$seeds" ] || seeds=
  "$exe" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name/" "$build/corpus/$name" $seeds \
    >"$build/logs/$name.log" 2>&1
  local rc=$?
  local execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$name.log")
  if [ $rc -eq 0 ]; then
    printf '%-16s ok    %12s executions in %ss\n' "$name" "${execs:-?}" "$seconds"
  else
    printf '%-16s FAIL  (exit %s), log: %s\n' "$name" "$rc" "$build/logs/$name.log"
    grep -m5 -E 'oracle mismatch|ERROR:|runtime error|SUMMARY' "$build/logs/$name.log" | sed 's/^/    /'
  fi
  return $rc
}
export -f run_one

ls "$build"/fuzz_* >/dev/null 2>&1 || { echo "no harnesses in $build" >&2; exit 1; }
ls "$build"/fuzz_* | xargs -P 2 -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build" "$repo"
