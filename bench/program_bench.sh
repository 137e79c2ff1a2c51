#!/usr/bin/env bash
# Figure 7: the real program, not a reproduction of its frame. tessel (OpenGL on Mesa llvmpipe,
# 1000 x 600 under Xvfb) captures on a veth in a network namespace of its own while tcpreplay
# feeds the peer: first 200 connections that this host opens and keeps open (as a browser does),
# then two floods of 10,000 frames a second from 300 other foreign hosts to this host, one after
# the other: small UDP datagrams (60 bytes, DNS-sized), and a download's frames (900-1,500 bytes,
# TCP data and UDP in turn). FPS is counted from two scene dumps, for the empty scene and under
# each flood in the same run; CPU time comes from /proc, per thread as well (the llvmpipe
# rasterizer threads against the main thread). Then the idle program's CPU, unlimited and with
# --maxfps 60. Prints ROW lines for run.sh.
#   bench/program_bench.sh BUILD_DIR [SECONDS]
# The program's scene dump gives its median and worst frame over its last 260 frames.
# TESSEL_BENCH_PERF=DIR also records a call-graph profile of each flood (perf record -g, after
# the FPS samples) into DIR/perf-small.data and DIR/perf-large.data.
# Needs root (namespace, capture, tcpreplay), Xvfb, xdotool and tcpreplay. Every frame stays in
# the namespace: its addresses (198.18.0.0/15) are routed nowhere, and the resolver is loopback.
# tcpreplay sleeps between frames (-T nano): its default timer spins a whole core, which the
# program under test would then lack. It sends the floods ten frames a wake-up (--pps-multi): at
# one a wake-up it preempts a rasterizer thread 10,000 times a second and carries each frame
# through the veth and the receiving stack on the spot, where a network card's interrupts are
# batched; that alone cost the loaded frame rate 5-13 %. The rate stays 10,000 a second.
set -euo pipefail
build=$(cd "${1:?usage: program_bench.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-10}
[ "$(id -u)" -eq 0 ] || { echo "program_bench: needs root" >&2; exit 2; }
for t in Xvfb xdotool tcpreplay ip; do
  command -v $t >/dev/null || { echo "program_bench: $t is missing" >&2; exit 2; }
done
tessel=$build/run/tessel
[ -x "$tessel" ] && [ -x "$build/bench/replay_capture" ] || { echo "program_bench: build first" >&2; exit 2; }

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d /tmp/tessel-program.XXXXXX)
ns=tprog$$
trap bench_cleanup EXIT

"$build/bench/replay_capture" "$work" --local 10.98.0.2 --connections 200 --hosts 300 --rate 10000

bench_namespace
ip -n "$ns" link add va type veth peer name vb
ip -n "$ns" addr add 10.98.0.2/24 dev va
ip -n "$ns" addr add 10.98.0.1/24 dev vb
ip -n "$ns" link set va up
ip -n "$ns" link set vb up
ip -n "$ns" route add default via 10.98.0.1 dev va
bench_xvfb 121
bench_run_folder "$build"
printf '[Software\\Ashgrove\\Tessel]\nfirstrun=1\nnic=va\nvideodriver=2\nfullscreen=1\nwidth=1000\nheight=600\n' \
  >"$work/Tessel.conf"

bench_env=(TESSEL_CONFIG_TOOL=/bin/true LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$tpid/stat"; }
# Per thread: "name ticks" (user + system); the name is the one field in parentheses.
thread_ticks() {
  for f in /proc/"$tpid"/task/*/stat; do
    sed -E 's/^[0-9]+ \(([^)]*)\) (.*)$/\1|\2/' "$f" 2>/dev/null | tr ' ' '_' |
      awk -F'|' '{ split($2, a, "_"); print $1, a[12] + a[13] }'
  done | awk '{ t[$1] += $2 } END { for (n in t) print n, t[n] }'
}
# CPU share per thread name between two thread_ticks outputs $1 and $2 over $3 seconds.
thread_shares() {
  awk -v s="$3" -v hz="$(getconf CLK_TCK)" 'NR == FNR { a[$1] = $2; next }
    { d = ($2 - a[$1]) / hz / s * 100; if (d >= 0.5) printf "  %s %.0f%%", $1, d } END { print "" }' \
    <(echo "$1") <(echo "$2")
}
# Samples $1 seconds without touching the program in between: no window polling, since every
# poll starts a process and gives the X server another client to serve between the program's
# frames, which shows as slow frames. Frames per second come from the frame counts of two scene
# dumps, CPU (% of one core) from /proc. Sets fps, cpu and d, the second dump, whose frame-ms
# line covers the last frames of the span.
sample() {
  local t0 t1 s0 s1 f0 f1
  t0=$(cpu_ticks)
  f0=$(bench_dump | awk '$1 == "frame" { print $2 }')
  s0=$(date +%s.%N)
  sleep "$1"
  d=$(bench_dump)
  s1=$(date +%s.%N)
  t1=$(cpu_ticks)
  f1=$(echo "$d" | awk '$1 == "frame" { print $2 }')
  read -r fps cpu < <(awk -v a="$t0" -v b="$t1" -v f="${f0:-0}" -v g="${f1:-0}" -v s="$s0" \
    -v e="$s1" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.0f %.1f\n", (g - f) / (e - s), (b - a) / hz / (e - s) * 100 }')
}
row() { echo "ROW,7,$1,$2,$3,$4,$5"; }
ok() { awk "BEGIN { exit !($1) }" && echo ok || echo MISS; }

bench_start "$tessel" "$work/Tessel.conf"
sleep 5
sample "$seconds"
empty=$fps idle_unlimited=$cpu
# The program's own median and worst frame (start to start) over its last 260 frames.
frame_ms() { awk '$1 == "frame-ms" { print $3, $5 }'; }
read -r empty_median empty_worst < <(echo "$d" | frame_ms) || true
echo "empty: $empty FPS, $idle_unlimited % CPU, frames median $empty_median ms, worst $empty_worst ms" >&2

ip netns exec "$ns" tcpreplay -q -T nano -i vb --pps 1000 "$work/open.pcap" >/dev/null 2>&1
profile=${TESSEL_BENCH_PERF:-}
# One flood ($1: small or large) from capture $2: sets $fps, $cpu, $median and $worst (the
# frames, ms) and $d (the scene dump), prints the threads' shares to stderr.
flood() {
  local extra=0 th0 th1
  [ -n "$profile" ] && extra=8
  ip netns exec "$ns" tcpreplay -q -T nano -i vb --pps 10000 --pps-multi=10 --loop $((seconds + 8 + extra)) "$2" \
    >"$work/replay.out" 2>&1 &
  rpid=$!
  pids+=($rpid)
  sleep 5
  th0=$(thread_ticks)
  sample "$seconds"
  th1=$(thread_ticks)
  echo "$1 flood threads (% of a core):$(thread_shares "$th0" "$th1" "$seconds")" >&2
  read -r median worst < <(echo "$d" | frame_ms) || true
  if [ -n "$profile" ]; then
    perf record -q -g -p "$tpid" -o "$profile/perf-$1.data" -- sleep 5 >/dev/null 2>&1 || true
  fi
  wait $rpid 2>/dev/null || true
  echo "$d" | grep -E '^(nodes|beams|scene|sprite-pixels|intel|impacts|kernel|frames|frame-ms) ' >&2 || true
}
flood small "$work/flood.pcap"
loaded=$fps loaded_cpu=$cpu loaded_median=$median loaded_worst=$worst
echo "loaded (small frames): $loaded FPS, $loaded_cpu % CPU" >&2
nodes=$(echo "$d" | awk '$1 == "nodes" { print $2 }')
sleep 4  # the last sprites land
flood large "$work/flood-large.pcap"
large=$fps large_cpu=$cpu large_median=$median large_worst=$worst
echo "loaded (large frames): $large FPS, $large_cpu % CPU" >&2
beams=$(echo "$d" | awk '$1 == "beams" { print $2 }')
bench_stop

bench_start "$tessel" "$work/Tessel.conf" --maxfps 60
sleep 5
sample "$seconds"
limited=$fps idle_limited=$cpu
echo "idle at --maxfps 60: $limited FPS, $idle_limited % CPU" >&2
bench_stop

row "real program: FPS; empty scene" "$empty" FPS - -
row "real program: worst / median frame; empty scene" "$(awk -v w="${empty_worst:-0}" -v m="${empty_median:-0}" 'BEGIN { printf "%.2f", (m > 0 ? w / m : 0) }')" ratio - -
for load in small large; do
  if [ $load = small ]; then
    fps=$loaded cpu=$loaded_cpu median=$loaded_median worst=$loaded_worst what="60-byte UDP"
  else
    fps=$large cpu=$large_cpu median=$large_median worst=$large_worst what="900-1500-byte TCP+UDP"
  fi
  row "real program: FPS at 10k frames/s of $what (${nodes:-?} nodes; ${beams:-?} beams)" "$fps" FPS ">= 60" "$(ok "$fps >= 60")"
  ratio=$(awk -v a="$fps" -v b="$empty" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
  row "real program: FPS loaded / empty; $what" "$ratio" ratio ">= 0.5" "$(ok "$ratio >= 0.5")"
  row "real program: CPU at 10k frames/s of $what" "$cpu" "% of a core" - -
  spread=$(awk -v w="${worst:-0}" -v m="${median:-0}" 'BEGIN { printf "%.2f", (m > 0 ? w / m : 0) }')
  row "real program: worst / median frame ($median / $worst ms); $what" "$spread" ratio "<= 2" "$(ok "$spread > 0 && $spread <= 2")"
done
row "real program: idle CPU; unlimited" "$idle_unlimited" "% of a core" - -
row "real program: idle CPU at --maxfps 60" "$idle_limited" "% of a core" - -
row "real program: FPS at --maxfps 60" "$limited" FPS - -
