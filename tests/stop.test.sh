#!/usr/bin/env bash
# A run stopped by a signal once the machine is connected: the exchange in
# flight ends, the log says so, the printer reset reaches the machine, and the
# exit status is 128 + the signal, as for a process the signal had ended.
# Each row runs vestrun against vestrun-sim and sends the signal at a chosen
# point of the run; the rows run side by side.
set -uo pipefail
vestrun=${VESTRUN_BIN:?VESTRUN_BIN names the vestrun to check}
sim=${VESTRUN_SIM_BIN:?VESTRUN_SIM_BIN names vestrun-sim}
top=${VESTRUN_SOURCE_DIR:-$(cd "$(dirname "$0")/.." && pwd)}
command -v iconv >/dev/null || { echo "stop: iconv is needed for the Shift_JIS log"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vestrun-stop-XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
sj() { printf %s "$1" | iconv -f UTF-8 -t CP932; }

# shellcheck source=../examples/patient.sh
. "$top/examples/patient.sh"
kReset='02 5F 03 5C'   # the printer reset as the stand-in records it

# stop_case NAME SIGNAL SIM-OPTION WAIT-TEXT WAIT-COUNT SETTLE STATUS [MAX-SECONDS]
# Sends SIGNAL SETTLE seconds after the WAIT-COUNT-th log line holding
# WAIT-TEXT (UTF-8 here, Shift_JIS in the log). MAX-SECONDS bounds the time
# from the signal to the end of the run.
stop_case() {
  local name=$1 sig=$2 simopt=$3 text=$4 count=$5 settle=$6 want=$7 max=${8:-}
  local d=$work/$name
  mkdir -p "$d"
  "$sim" --listen 127.0.0.1:0 --once --frames "$d/frames.txt" $simopt >"$d/sim.out" 2>"$d/sim.err" &
  local sim_pid=$! port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^listening 127\.0\.0\.1://p' "$d/sim.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "FAIL $name: the stand-in did not listen"; return 1; }
  "$vestrun" 127.0.0.1 "$port" "$PATIENT_STYLE" "$top/examples/card.bmp" "$PATIENT_NUMBER" \
    "$(sj "$PATIENT_KANJI")" "$(sj "$PATIENT_KANA")" "$PATIENT_SEX" "$PATIENT_BIRTH" "$PATIENT_FIRST" \
    >"$d/log" 2>"$d/err" &
  local pid=$! pat seen
  pat=$(sj "$text")
  for _ in $(seq 1200); do
    seen=$(grep -aFc -- "$pat" "$d/log" 2>/dev/null)
    [ "${seen:-0}" -ge "$count" ] && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.05
  done
  sleep "$settle"
  local t0 t1
  t0=$(date +%s%N)
  kill "-$sig" $pid
  wait $pid
  local status=$?
  t1=$(date +%s%N)
  # The stand-in ends with the connection; one that never got it is ended here.
  for _ in $(seq 50); do kill -0 $sim_pid 2>/dev/null || break; sleep 0.1; done
  kill $sim_pid 2>/dev/null
  wait $sim_pid
  local log bad=0
  log=$(iconv -f CP932 -t UTF-8 "$d/log")
  local sig_no
  sig_no=$(kill -l "$sig")
  check() { if ! eval "$2"; then echo "FAIL $name: $1"; bad=1; fi; }
  check "exit status $status, want $want" '[ "$status" = "$want" ]'
  check "no stop line" 'grep -qF "× 中断されました（シグナル$sig_no）" <<<"$log"'
  check "no reset line after the stop line" \
    'grep -A1 -F "× 中断されました" <<<"$log" | tail -1 | grep -qF "切断（プリンターリセット）"'
  check "the reset did not go out" 'grep -qF "プリンターリセット成功" <<<"$log"'
  # The last frame the stand-in received (closing ACKs aside) is the reset.
  check "the stand-in's last frame is not the reset" \
    '[ "$(grep -v "^06$" "$d/frames.txt" | tail -1)" = "$kReset" ]'
  check "no card went out" '! grep -qE "^02 (46|47) " "$d/frames.txt"'
  check "a sanitizer report" '! grep -qE "AddressSanitizer|LeakSanitizer|runtime error" "$d/err"'
  if [ -n "$max" ]; then
    local took=$(( (t1 - t0) / 1000000 ))
    check "the run took ${took} ms after the signal, more than ${max} s" '[ $took -le $((max * 1000)) ]'
  fi
  if [ $bad = 0 ]; then
    echo "ok   $name: status $status, reset received, $(( (t1 - t0) / 1000000 )) ms from the signal to the end"
  else
    echo "---- log of $name"; printf '%s\n' "$log" | tail -15
    echo "---- frames"; tail -5 "$d/frames.txt"
  fi
  return $bad
}

pids=()
# The operator never inserts a card: SIGTERM while the status check waits for
# its reply.
stop_case term-card-wait TERM "--card-after 100000" 'カードを挿入してください' 1 1 143 & pids+=($!)
# The machine answers the first image frame late: SIGINT inside its reply window.
stop_case int-image-frame INT "--fault M:slow=8000" 'イメージ送信開始' 1 1.5 130 & pids+=($!)
# SIGHUP in the 3-second pause of the wait for a card, after the LED is lit
# again. The pause ends at once: what is left is the reset's own exchange
# (3.5 s of fixed waits); sitting out the rest of the pause first would make 6.
stop_case hup-card-pause HUP "--card-after 100000" 'LED設定成功' 2 0.5 129 5 & pids+=($!)

status=0
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
