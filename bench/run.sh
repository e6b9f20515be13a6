#!/usr/bin/env bash
# Runs the Google benchmarks of BUILD_DIR/bench, then issues cards against
# vestrun-sim and reports, per card: wall time against the floor that the
# protocol's fixed pauses set, CPU seconds and peak resident memory of vestrun.
#
#   bench/run.sh [BUILD_DIR]        (make bench: BUILD_DIR = build)
#   CARDS=N      cards per mode (default 2)
#   SKIP_GBENCH=1  skip the Google benchmarks
#
# Two modes: the machine answering at once, and the machine answering every
# image frame 300 ms late (--fault 'M#*:slow=300').
#
# The floor of a card that is ready at the first status check is 31 s: the 1-s
# pause of the connection, six command exchanges of 3.5 s (I, Z on, Y, 9, 1,
# Z off) and the card output's 9 s. Image frames have no fixed pauses; with
# the late machine each adds its 300 ms to the floor. Goals: wall time within
# 1 % of the floor, under 0.1 s of CPU and under 4 MiB peak memory per card.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/stand-in.sh
. "$top/scripts/stand-in.sh"
stand_in_programs bench "${1:-build}"
cards=${CARDS:-2}

if [ "${SKIP_GBENCH:-0}" != 1 ]; then
  shopt -s nullglob
  for b in "$build"/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.2s 2>&1 || "$b" 2>&1
  done
  shopt -u nullglob
fi

# shellcheck source=../examples/patient.sh
. "$top/examples/patient.sh"
kanji=$(sjis "$PATIENT_KANJI")
kana=$(sjis "$PATIENT_KANA")
picture=$top/examples/card.bmp

out=$top/out/bench
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/vestrun-bench-XXXXXX")
trap stand_in_cleanup EXIT

# A tiny wrapper measures each run: fork, exec, wait4. Its own few hundred KiB
# are all that the child's peak could inherit from before the exec (a wrapper
# in Python would lend the child Python's 10 MiB).
cat >"$work/runstat.c" <<'C'
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
/* runstat LOG PROGRAM ARGS...: prints "wall_s cpu_s maxrss_KiB status". */
int main(int argc, char **argv)
{
    if (argc < 3) return 2;
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) _exit(126);
        dup2(fd, 1);
        dup2(fd, 2);
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int st = 0;
    struct rusage ru;
    if (pid < 0 || wait4(pid, &st, 0, &ru) < 0) return 1;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double wall = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
    double cpu = (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    printf("%.3f %.3f %ld %d\n", wall, cpu, ru.ru_maxrss,
           WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
    return 0;
}
C
${CC:-cc} -O2 -o "$work/runstat" "$work/runstat.c" || { echo "bench: cannot build the measuring wrapper (set CC)" >&2; exit 1; }

# Runs a command with its output in a file and prints "wall cpu maxrss_kib status".
measure() { "$work/runstat" "$@"; }

# One card; leaves "wall cpu maxrss status frames_M issued" in $work/<name>/result.
card() {
  local n=$1; shift
  local dir=$work/$n
  mkdir -p "$dir"
  stand_in_start "$dir/listen" "$dir/sim.log" --out "$dir/out" --frames "$dir/frames.txt" "$@" ||
    { echo "bench: vestrun-sim did not start" >&2; exit 1; }
  local res
  res=$(measure "$dir/run.log" "$vestrun" 127.0.0.1 "$sim_port" "$PATIENT_STYLE" "$picture" "$PATIENT_NUMBER" \
    "$kanji" "$kana" "$PATIENT_SEX" "$PATIENT_BIRTH" "$PATIENT_FIRST")
  exec 3<&-
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  local frames ok
  frames=$(grep -c '^02 4D ' "$dir/frames.txt" || true)
  # The run put the card out when its last log line is "切断".
  if tail -n 1 "$dir/run.log" | iconv -c -f CP932 -t UTF-8 | grep -q ' 切断$'; then ok=yes; else ok=NO; fi
  cp "$dir/run.log" "$out/run-$n.log"
  echo "$res $frames $ok" >"$dir/result"
}

report=$out/results.txt
: >"$report"
say() { echo "$@" | tee -a "$report"; }

say "vestrun per card, $cards card(s) per mode, picture $(basename "$picture")"
say "$(printf '%-8s %4s %9s %9s %9s %8s %9s %7s %6s' mode card wall_s floor_s over_% cpu_s rss_KiB M_frm issued)"
for mode in prompt late; do
  for i in $(seq 1 "$cards"); do
    if [ $mode = prompt ]; then
      card "$mode-$i"
    else
      card "$mode-$i" --fault 'M#*:slow=300'
    fi
    read -r wall cpu rss status frames ok <"$work/$mode-$i/result"
    floor=$(awk -v n="$frames" -v m="$mode" 'BEGIN { printf "%.3f", 31 + (m == "late" ? n * 0.3 : 0) }')
    over=$(awk -v w="$wall" -v f="$floor" 'BEGIN { printf "%.2f", (w - f) / f * 100 }')
    say "$(printf '%-8s %4s %9s %9s %9s %8s %9s %7s %6s' "$mode" "$i" "$wall" "$floor" "$over" "$cpu" "$rss" "$frames" "$ok/$status")"
  done
done
say "goals: over_% under 1, cpu_s under 0.1, rss_KiB under 4096"
echo "results in $report; run logs (Shift_JIS) in $out"
