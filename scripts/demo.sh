#!/usr/bin/env bash
# Issues one card from examples/ on vestrun-sim, the stand-in for the issuing
# machine, and shows where the card it received lies.
#
#   scripts/demo.sh [BUILD_DIR]      (make demo: BUILD_DIR = build)
#
# The stand-in listens on a free loopback port and reports a card ready at the
# third status request, so the run log shows the wait for a card going round
# twice. One run lasts about 50 seconds: the protocol's fixed pauses, not work.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$top/$build ;; esac
vestrun=$build/vestrun
sim=$build/sim/vestrun-sim
for bin in "$vestrun" "$sim"; do
  if [ ! -x "$bin" ]; then
    echo "demo: $bin is missing; build first (make build)" >&2
    exit 1
  fi
done
command -v iconv >/dev/null || { echo "demo: iconv is needed to pass Shift_JIS arguments" >&2; exit 1; }

# shellcheck source=../examples/patient.sh
. "$top/examples/patient.sh"
picture=$top/examples/card.bmp
out=$top/out/demo
mkdir -p "$out"
rm -f "$out/frames.txt"  # the stand-in appends to it

work=$(mktemp -d "${TMPDIR:-/tmp}/vestrun-demo-XXXXXX")
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  exec 3<&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The stand-in's first line names its port; read it through a pipe, no guessing.
mkfifo "$work/listen"
"$sim" --listen 127.0.0.1:0 --once --card-after 3 --out "$out" \
  --frames "$out/frames.txt" >"$work/listen" 2>"$out/sim.log" &
sim_pid=$!
exec 3<"$work/listen"
if ! read -r -t 10 first <&3; then
  echo "demo: vestrun-sim did not start; see $out/sim.log" >&2
  exit 1
fi
case $first in
  "listening "*:*) port=${first##*:} ;;
  *) echo "demo: unexpected first line from vestrun-sim: $first" >&2; exit 1 ;;
esac
echo "vestrun-sim (pid $sim_pid) listens on 127.0.0.1:$port; it reports a card at the third status request"

sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
kanji=$(sjis "$PATIENT_KANJI")
kana=$(sjis "$PATIENT_KANA")

echo "vestrun 127.0.0.1 $port $PATIENT_STYLE $picture $PATIENT_NUMBER $PATIENT_KANJI $PATIENT_KANA $PATIENT_SEX $PATIENT_BIRTH $PATIENT_FIRST"
echo "(the names go in as Shift_JIS; the log below is shown in UTF-8 and kept as $out/run.log in Shift_JIS)"
echo "----------------------------------------------------------------------"
set +e
"$vestrun" 127.0.0.1 "$port" "$PATIENT_STYLE" "$picture" "$PATIENT_NUMBER" "$kanji" "$kana" \
  "$PATIENT_SEX" "$PATIENT_BIRTH" "$PATIENT_FIRST" | tee "$out/run.log" | iconv -c -f CP932 -t UTF-8
status=${PIPESTATUS[0]}
set -e
echo "----------------------------------------------------------------------"
echo "vestrun ended with exit status $status"

# --once: the stand-in ends by itself once the connection has closed.
for _ in $(seq 1 50); do
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$sim_pid" 2>/dev/null; then
  kill -TERM "$sim_pid" 2>/dev/null || true
fi
wait "$sim_pid" 2>/dev/null || true
sim_pid=

# The stand-in names its cards card-0001, card-0002, ...; past card-9999 the
# names grow a digit and no longer sort in order, so the last card is found
# by its number.
card=
last=-1
for dir in "$out"/card-*; do
  num=${dir##*/card-}
  case $num in [0-9][0-9][0-9][0-9]*) ;; *) continue ;; esac  # at least four digits, as the stand-in writes them
  case $num in *[!0-9]*) continue ;; esac
  [ -d "$dir" ] || continue
  if ((10#$num > last)); then
    last=$((10#$num))
    card=$dir
  fi
done
if [ -z "$card" ] || [ ! -f "$card/card.txt" ]; then
  echo "demo: the machine kept no card; see $out/run.log and $out/sim.log" >&2
  exit 1
fi
if [ "$(tail -n 1 "$out/run.log" | iconv -c -f CP932 -t UTF-8 | sed 's/^.\{15\}//')" != "切断" ]; then
  echo "demo: the run did not end with the card put out; see $out/run.log" >&2
  exit 1
fi
echo
echo "The card the machine put out lies in $card:"
echo "  picture.bmp  the picture as printed (1-bit BMP, ink = palette index 1)"
echo "  stripe.bin   the 69 bytes written to the magnetic stripe"
echo "  card.txt     the stripe decoded:"
sed 's/^/    /' "$card/card.txt"
echo "Every frame the machine received, in hex: $out/frames.txt"
echo "The stand-in's own log: $out/sim.log"
