#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a number of seconds each,
# from a copy of its seed corpus in fuzz/corpus/<target>; findings go to
# fuzz/findings/. Prints the executions per target; non-zero on a finding.
#   tests/scripts/fuzz.sh [BUILD [SECONDS]]
set -uo pipefail
build=$(realpath "${1:-build-fuzz}")
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vestrun-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$top/fuzz/findings"
status=0
for bin in "$build"/fuzz/fuzz_*; do
  name=$(basename "$bin")
  cp -r "$top/fuzz/corpus/$name" "$work/$name"
  dict=(); [ -f "$top/fuzz/$name.dict" ] && dict=("-dict=$top/fuzz/$name.dict")
  (cd "$work" && ASAN_OPTIONS=detect_leaks=1 "$bin" "$work/$name" -max_total_time="${2:-10}" -rss_limit_mb=2048 \
     -max_len=65536 -print_final_stats=1 -artifact_prefix="$top/fuzz/findings/$name-" "${dict[@]}" >"$work/log" 2>&1)
  rc=$?
  printf '%-16s %10s executions  rc=%d\n' "$name" "$(awk '/^stat::number_of_executed_units/ {print $2}' "$work/log")" $rc
  [ $rc = 0 ] || { status=1; tail -n 40 "$work/log"; }
done
exit $status
