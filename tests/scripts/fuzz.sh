#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a number of seconds each,
# starting from the seed corpus in fuzz/corpus/<target> (copied, so the repo's
# seeds stay as they are). Prints the executions per target; exits non-zero on a finding.
set -uo pipefail
build=${1:-build-fuzz}
seconds=${2:-10}
top=$(cd "$(dirname "$0")/../.." && pwd)
case $build in /*) ;; *) build=$PWD/$build ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/vestrun-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
shopt -s nullglob
for bin in "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  mkdir -p "$work/$name" "$top/fuzz/findings"
  [ -d "$top/fuzz/corpus/$name" ] && cp -r "$top/fuzz/corpus/$name/." "$work/$name/"
  log="$work/$name.log"
  extra=()
  [ -f "$top/fuzz/$name.dict" ] && extra+=("-dict=$top/fuzz/$name.dict")
  (cd "$work" && ASAN_OPTIONS=detect_leaks=1 "$bin" "$work/$name" -max_total_time="$seconds" \
      -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$top/fuzz/findings/$name-" "${extra[@]}" >"$log" 2>&1)
  rc=$?
  execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  printf '%-28s %10s executions in %ss  rc=%d\n' "$name" "${execs:-?}" "$seconds" "$rc"
  if [ $rc -ne 0 ]; then
    status=1
    tail -n 40 "$log"
  fi
done
exit $status
