#!/usr/bin/env bash
# Fails on a C++ file of src/, sim/, tests/, bench/ or fuzz/ that .clang-format
# would change, and names each such file with the first lines of its diff.
# Without clang-format it says so and succeeds: the check needs the tool.
#   tools/check-format.sh            every file
#   tools/check-format.sh FILE...    only these
#   tools/check-format.sh --fix      format every file in place
set -uo pipefail
cd "$(dirname "$0")/.."
cf=${CLANG_FORMAT:-clang-format}
if ! command -v "$cf" >/dev/null 2>&1; then
  echo "check-format: $cf not found, format check skipped (Debian: apt-get install clang-format)"
  exit 0
fi
fix=0
if [ "${1:-}" = --fix ]; then fix=1; shift; fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'sim/*.cpp' 'sim/*.h' 'tests/*.cpp' 'tests/*.h' \
    'tests/support/*.cpp' 'tests/support/*.h' 'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
fi
if [ $fix = 1 ]; then
  "$cf" -i --style=file "${files[@]}"
  exit $?
fi
bad=0
for f in "${files[@]}"; do
  if ! out=$("$cf" --style=file "$f" | diff -u "$f" - 2>&1); then
    bad=$((bad + 1))
    echo "$f: not formatted as .clang-format says"
    printf '%s\n' "$out" | sed -n '3,12p'
  fi
done
if [ $bad -gt 0 ]; then
  echo "check-format: $bad of ${#files[@]} files differ; tools/check-format.sh --fix formats them"
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
