# shellcheck shell=bash disable=SC2034,SC2154  # a sourced file: its callers set and read these names
# Sourced by scripts/demo.sh and bench/run.sh (bash, set -euo pipefail): where
# the two programs are, how vestrun-sim is started on a free loopback port and
# how it is stopped. The sourcing script sets `top`, the source tree.
#
#   stand_in_programs WHO [BUILD_DIR]  sets build, vestrun and sim, or stops the
#                                      script when one is not built; WHO begins
#                                      the message
#   stand_in_start FIFO LOG ARGS...    starts vestrun-sim --listen 127.0.0.1:0
#                                      --once ARGS, stdout through FIFO (open on
#                                      fd 3), stderr into LOG; sets sim_pid and
#                                      sim_port. Returns 1 when no first line
#                                      comes within 10 s, 2 when the first line
#                                      (in sim_first) names no port
#   stand_in_stop                      ends the stand-in if it still runs
#   stand_in_cleanup                   the EXIT trap: stand_in_stop, closes
#                                      fd 3, removes the scratch folder $work
#   sjis TEXT                          TEXT (UTF-8) in Shift_JIS, as vestrun
#                                      takes its arguments

stand_in_programs() {
  local who=$1 bin
  build=${2:-build}
  case $build in /*) ;; *) build=$top/$build ;; esac
  vestrun=$build/vestrun
  sim=$build/sim/vestrun-sim
  for bin in "$vestrun" "$sim"; do
    [ -x "$bin" ] || { echo "$who: $bin is missing; build first (make build)" >&2; exit 1; }
  done
}

sim_pid=
sim_port=
sim_first=

# The stand-in's first line names its port; it is read through a pipe, no
# guessing.
stand_in_start() {
  local fifo=$1 log=$2
  shift 2
  mkfifo "$fifo" || exit 1
  "$sim" --listen 127.0.0.1:0 --once "$@" >"$fifo" 2>"$log" &
  sim_pid=$!
  exec 3<"$fifo"
  sim_first=
  read -r -t 10 sim_first <&3 || return 1
  case $sim_first in
    "listening "*:*) sim_port=${sim_first##*:} ;;
    *) return 2 ;;
  esac
}

stand_in_stop() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=
}

stand_in_cleanup() {
  stand_in_stop
  exec 3<&- 2>/dev/null || true
  rm -rf "$work"
}

sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
