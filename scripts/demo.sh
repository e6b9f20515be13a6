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
# shellcheck source=stand-in.sh
. "$top/scripts/stand-in.sh"
stand_in_programs demo "${1:-build}"
command -v iconv >/dev/null || { echo "demo: iconv is needed to pass Shift_JIS arguments" >&2; exit 1; }

# shellcheck source=../examples/patient.sh
. "$top/examples/patient.sh"
picture=$top/examples/card.bmp
out=$top/out/demo
mkdir -p "$out"
rm -f "$out/frames.txt"  # the stand-in appends to it

work=$(mktemp -d "${TMPDIR:-/tmp}/vestrun-demo-XXXXXX")
trap stand_in_cleanup EXIT

rc=0
stand_in_start "$work/listen" "$out/sim.log" --card-after 3 --out "$out" --frames "$out/frames.txt" || rc=$?
case $rc in
  0) port=$sim_port ;;
  1) echo "demo: vestrun-sim did not start; see $out/sim.log" >&2; exit 1 ;;
  *) echo "demo: unexpected first line from vestrun-sim: $sim_first" >&2; exit 1 ;;
esac
echo "vestrun-sim (pid $sim_pid) listens on 127.0.0.1:$port; it reports a card at the third status request"

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
