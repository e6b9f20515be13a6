#!/usr/bin/env bash
# Every way a run of vestrun can end, once each, under valgrind's memcheck:
# the usage line, a bad argument, a bitmap that cannot be read, a picture the
# machine cannot take, no connection, a card issued, and the reset path. (What
# each bad input leads to is the bad input table's business; here only the
# heap and uninitialised reads of each way out.) The runs go side by side (the
# two that reach a machine each get their own vestrun-sim).
#
#   tests/valgrind-paths.test.sh [VESTRUN_BIN [VESTRUN_SIM_BIN]]   (CTest: script.valgrind-paths)
#
# Exit status 1 when a path ends with another status or last log line than it
# should, with a memcheck error or a block definitely lost; 0 with a message
# when valgrind is missing or vestrun is a sanitizer build.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(readlink -f "${1:-${VESTRUN_BIN:-$top/build/vestrun}}")
sim=$(readlink -f "${2:-${VESTRUN_SIM_BIN:-$top/build/sim/vestrun-sim}}")
skip() { echo "valgrind-paths: skipped: $*"; exit 0; }
command -v valgrind >/dev/null 2>&1 || skip "valgrind is not installed"
[ -x "$bin" ] && [ -x "$sim" ] || { echo "valgrind-paths: no vestrun at $bin or no vestrun-sim at $sim" >&2; exit 2; }
# (Whole outputs into grep: with pipefail, grep -q ending early would fail the pipe.)
syms=$({ ldd "$bin"; nm "$bin"; nm -D "$bin"; } 2>/dev/null)
if [ -n "${VESTRUN_SANITIZE:-}" ] || grep -q 'libasan\|__asan_init' <<<"$syms"; then
    skip "$bin is built with AddressSanitizer"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vestrun-valgrind-XXXXXX")
sims=()
trap 'kill "${sims[@]}" 2>/dev/null; rm -rf "$work"' EXIT

card=$top/examples/card.bmp
head -c 100 "$card" >"$work/broken.bmp"
# The sample picture claiming 481 x 1 pixels: read whole, then refused as too wide.
cp "$card" "$work/wide.bmp"
printf '\xe1\x01\x00\x00\x01\x00\x00\x00' | dd of="$work/wide.bmp" bs=1 seek=18 conv=notrunc status=none

# A stand-in of its own on a free port, which goes to sim_port. (Not in a
# subshell: the trap must know every stand-in to stop it.)
start_sim() {
    local name=$1 line i
    shift
    "$sim" --listen 127.0.0.1:0 --once "$@" >"$work/$name.sim.out" 2>/dev/null &
    sims+=($!)
    for i in $(seq 100); do
        read -r line <"$work/$name.sim.out" 2>/dev/null && [ -n "$line" ] && { sim_port=${line##*:}; return 0; }
        sleep 0.1
    done
    echo "valgrind-paths: vestrun-sim for $name did not come up" >&2
    exit 1
}
start_sim success --card-after 0
port_ok=$sim_port
start_sim reset --fault 9:dle   # the stripe refused: the reset path
port_reset=$sim_port

patient=(12345 "$(printf '\x8eR\x93c\x91\xbe\x98Y')" "$(printf '\x83\x84\x83}\x83_\x81@\x83^\x83\x8d\x83E')" 1 19700101 20240401)

# name | expected status | expected last log line (UTF-8; empty: no log) | arguments
paths=()
add() { paths+=("$1"); eval "args_$1=(\"\${@:4}\")"; eval "want_$1=$2"; eval "last_$1=\"\$3\""; }
add usage 0 "" 127.0.0.1 1 0 "$card" 12345
add badarg 157 "× 引数5が不正です" 127.0.0.1 1 0 "$card" 12345678901 "${patient[@]:1}"
add broken 157 "× bmpファイルを読み込むことができません。処理不可能n" 127.0.0.1 1 0 "$work/broken.bmp" "${patient[@]}"
add wide 157 "× bmpファイルを読み込むことができません。処理不可能n" 127.0.0.1 1 0 "$work/wide.bmp" "${patient[@]}"
add closed 255 "× 接続異常" 127.0.0.1 0 0 "$card" "${patient[@]}"
add success 0 "切断" 127.0.0.1 "$port_ok" 0 "$card" "${patient[@]}"
add reset 0 "プリンターリセット成功" 127.0.0.1 "$port_reset" 0 "$card" "${patient[@]}"

vg=(valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=99)
runs=()
for p in "${paths[@]}"; do
    eval "a=(\"\${args_$p[@]}\")"
    (cd "$work" && "${vg[@]}" --log-file="$work/$p.vg" "$bin" "${a[@]}" >"$work/$p.out" 2>"$work/$p.err" </dev/null
     echo $? >"$work/$p.rc") &
    runs+=($!)
done
wait "${runs[@]}"

# Memcheck ends a run with 99 on any error or block definitely lost.
fail=0
for p in "${paths[@]}"; do
    rc=$(cat "$work/$p.rc")
    eval "want=\$want_$p; last_want=\$last_$p"
    last=$(iconv -f CP932 -t UTF-8 <"$work/$p.out" 2>/dev/null | sed -n 's/^[ 0-9]*\/[ 0-9]* [0-9:]* //p' | tail -1)
    why=()
    [ "$rc" = 99 ] && why+=("memcheck error or block definitely lost")
    [ "$rc" = 99 ] || [ "$rc" = "$want" ] || why+=("status $rc, not $want")
    [ "$last" = "$last_want" ] || why+=("last log line '$last', not '$last_want'")
    if [ ${#why[@]} -eq 0 ]; then
        echo "$p: ok, status $rc"
    else
        fail=1
        echo "$p: FAIL: $(IFS=';'; echo "${why[*]}")"
        sed -n '/Invalid\|uninitialised\|definitely lost in/,+8p' "$work/$p.vg" | head -40 | sed 's/^/    /'
        head -c 600 "$work/$p.err" | sed 's/^/    stderr: /'
    fi
done
exit $fail
