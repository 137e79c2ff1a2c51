#!/usr/bin/env bash
# Soak: the real tessel under Xvfb, capturing on the loopback of a network namespace of its own
# while bench/soak_flood floods it at a bounded rate for --minutes. Every 30 s it samples resident
# memory (/proc/PID/status VmRSS), intel files waiting (ls intel | wc -l), frames per second (the
# window caption) and kernel drops (pcap_stats, from the program's scene dump, SIGUSR1). After
# the flood it waits until the capture has caught up, then 26 more frames, and checks:
#   memory flat within 10 % of the 1-minute sample from then on,
#   no intel record lost (every record file that appeared was consumed; the records the program
#   counts as written equal those it counts as read, and at least every UDP datagram the kernel
#   did not drop became one),
#   no file left in intel/,
#   at least 30 frames a second in every sample taken during the flood.
# Writes bench/results/soak.tsv, soak.txt and soak.png; exit status 0 when every check passes.
#   bench/soak.sh [--minutes N] [--rate PPS] [--driver 2|3] [--build DIR] [--out DIR]
# Needs root (namespace, capture), Xvfb, xdotool, g++, libirrlicht-dev, libpcap-dev.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
minutes=10 rate=5000 driver=2 build=$top/build out=$top/bench/results
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --driver) driver=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: $0 [--minutes N] [--rate PPS] [--driver 2|3] [--build DIR] [--out DIR]" >&2; exit 2 ;;
  esac
done
[[ $minutes =~ ^[0-9]+$ ]] && [ "$minutes" -ge 1 ] && [ "$minutes" -le 60 ] || { echo "soak: --minutes 1..60" >&2; exit 2; }
[[ $rate =~ ^[0-9]+$ ]] && [ "$rate" -ge 1 ] && [ "$rate" -le 50000 ] || { echo "soak: --rate 1..50000" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "soak: needs root (network namespace and capture)" >&2; exit 2; }
for t in Xvfb xdotool ip g++; do command -v $t >/dev/null || { echo "soak: $t is missing" >&2; exit 2; }; done

tessel=$build/run/tessel
[ -x "$tessel" ] || TESSEL_BUILD_DIR=$build "$top/scripts/build.sh"
mkdir -p "$out"
# shellcheck source=bench/lib.sh
. "$top/bench/lib.sh"
work=$(mktemp -d /tmp/tessel-soak.XXXXXX)
ns=tsoak$$
trap bench_cleanup EXIT

echo "soak: building the helpers"
cxx=(g++ -O2 -std=c++17 -Wall -Wextra)
"${cxx[@]}" "$top/bench/soak_flood.cpp" -pthread -o "$work/soak_flood"
"${cxx[@]}" "$top/bench/soak_watch.cpp" -o "$work/soak_watch"
"${cxx[@]}" -isystem /usr/include/irrlicht "$top/bench/plot_series.cpp" -lIrrlicht -o "$work/plot_series"

# The namespace: its loopback carries the flood; 10.99.0.0/16 is routed to it as well, so those
# hosts are foreign to the viewer (127.0.0.1/8) yet never leave the namespace. Reverse look-ups
# go to 127.0.0.1, where nothing answers.
bench_namespace
ip -n "$ns" route add local 10.99.0.0/16 dev lo
bench_xvfb 90
bench_run_folder "$build"
printf '[Software\\Ashgrove\\Tessel]\nfirstrun=1\nnic=lo\nvideodriver=%s\nfullscreen=0\nwidth=800\nheight=600\n' \
  "$driver" >"$work/Tessel.conf"
printf '#!/bin/sh\necho "$@" >> %s/config-tool-started\n' "$work" >"$work/tessel-config"
chmod +x "$work/tessel-config"
bench_env=(TESSEL_CONFIG_TOOL="$work/tessel-config")
bench_start "$tessel" "$work/Tessel.conf"

# After a crash: the back traces of every thread from the core file, when gdb is there.
crashed() {
  local core
  core=$(ls "$run"/core* 2>/dev/null | head -1 || true)
  [ -n "$core" ] && command -v gdb >/dev/null || return 0
  timeout 120 gdb -batch -ex 'thread apply all bt' "$tessel" "$core" >"$out/soak-crash.txt" 2>&1 || true
  echo "soak: back traces in $out/soak-crash.txt"
}

field() { awk -v k="$1" -v n="$2" '$1 == k { print $n; exit }'; }
calc() { awk "BEGIN { print ($1) }"; }

"$work/soak_watch" "$run/intel" "$work/watch.txt" &
wpid=$!
pids+=($wpid)

seconds=$((minutes * 60))
echo "soak: $minutes min at $rate datagrams/s (driver $driver, display $display, namespace $ns)"
ip netns exec "$ns" "$work/soak_flood" --seconds "$seconds" --rate "$rate" --report "$work/flood.txt" \
  >/dev/null 2>"$work/flood.err" &
fpid=$!
pids+=($fpid)
start=$(date +%s.%N)

table=$out/soak.tsv
echo "seconds rss_mb intel_waiting fps kernel_drops" >"$table"
printf '%8s %9s %13s %5s %12s %12s %6s %6s %8s\n' seconds rss_mb intel_waiting fps kernel_drops packets nodes beams sprites
for k in $(seq 0 $((minutes * 2))); do
  wait_s=$(calc "$start + $k * 30 - $(date +%s.%N)")
  if [ "$(calc "$wait_s > 0")" -eq 1 ]; then sleep "$wait_s"; fi
  kill -0 $tpid 2>/dev/null || { echo "soak: tessel ended early"; cat "$work/tessel.out"; crashed; exit 1; }
  rss=$(awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$tpid/status")
  waiting=$(ls "$run/intel" | wc -l)
  fps=$(bench_caption_fps)
  d=$(bench_dump)
  drops=$(echo "$d" | field kernel 5)
  packets=$(echo "$d" | field frames 3)
  echo "$((k * 30)) $rss $waiting ${fps:-0} ${drops:-0}" >>"$table"
  printf '%8s %9s %13s %5s %12s %12s %6s %6s %8s\n' $((k * 30)) "$rss" "$waiting" "${fps:-?}" "${drops:-?}" \
    "${packets:-?}" "$(echo "$d" | field nodes 2)" "$(echo "$d" | field beams 2)" "$(echo "$d" | field scene 5)"
done

# The flood stops by itself; give it a bounded while.
for _ in $(seq 300); do kill -0 $fpid 2>/dev/null || break; sleep 0.1; done
flood=$(cat "$work/flood.txt" 2>/dev/null || echo "udp-sent 0")
flood_end=$(date +%s.%N)

# Caught up: the packet count stands still between two dumps 0.5 s apart (at most 60 s).
last=-1
for _ in $(seq 120); do
  d=$(bench_dump)
  p=$(echo "$d" | field frames 3)
  [ "$p" = "$last" ] && break
  last=$p
  sleep 0.5
done
frame0=$(echo "$d" | field frame 2)
caught_up=$(calc "$(date +%s.%N) - $flood_end")
# Then 26 frames: one whole job cycle, so one intel pass, has run since the last packet.
for _ in $(seq 500); do
  d=$(bench_dump)
  f=$(echo "$d" | field frame 2)
  [ -n "$f" ] && [ -n "$frame0" ] && [ "$f" -ge $((frame0 + 26)) ] && break
  sleep 0.05
done
left=$(ls -A "$run/intel" | wc -l)
kill -TERM $wpid 2>/dev/null || true
wait $wpid 2>/dev/null || true
watch=$(cat "$work/watch.txt")

udp_sent=$(echo "$flood" | awk '{ for (i = 1; i < NF; ++i) if ($i == "udp-sent") print $(i + 1) }')
udp_sent=${udp_sent:-0}
files_written=$(echo "$watch" | awk '{ print $2 }')
files_removed=$(echo "$watch" | awk '{ print $4 }')
overflow=$(echo "$watch" | awk '{ print $6 }')
written=$(echo "$d" | awk '$1 == "intel" && $2 == "written" { print $3 }')
read_back=$(echo "$d" | awk '$1 == "intel" && $2 == "written" { print $5 }')
drops=$(echo "$d" | field kernel 5)
received=$(echo "$d" | field kernel 3)
packets=$(echo "$d" | field frames 3)

# Memory: every sample from the first minute on within 10 % of the 1-minute sample.
memory=$(awk 'NR > 1 && $1 >= 60 { if (base == "") base = $2; d = ($2 - base) / base; if (d < 0) d = -d;
               if (d > worst) worst = d } END { if (base == "") print "n/a 0"; else printf "%.1f %.1f\n", worst * 100, base }' "$table")
worst_pct=${memory% *}
min_fps=$(awk 'NR > 2 { if (min == "" || $4 < min) min = $4 } END { print (min == "" ? 0 : min) }' "$table")
fails=0
check() {
  if [ "$1" -eq 1 ]; then echo "PASS  $2"; else echo "FAIL  $2"; fails=$((fails + 1)); fi
}
{
  echo "soak: $minutes min, $rate datagrams/s, driver $driver"
  echo "flood: $flood"
  echo "tessel: packets $packets, kernel received $received dropped $drops (capture caught up ${caught_up}s after the flood)"
  echo "scene: $(echo "$d" | field nodes 2) nodes, $(echo "$d" | field beams 2) beams left open (a beam stays when the kernel dropped its FIN)"
  echo "intel: record files written $files_written, consumed $files_removed, watcher overflows $overflow, left $left"
  echo "intel: records written $written, read $read_back"
  if [ "$minutes" -ge 2 ]; then
    check "$(calc "$worst_pct <= 10")" "memory flat after the first minute: worst ${worst_pct}% off ${memory#* } MB"
  else
    echo "n/a   memory (needs --minutes 2 or more)"
  fi
  check "$([ "$overflow" = 0 ] && [ "$files_written" = "$files_removed" ] && [ "$written" = "$read_back" ] && [ "$written" -ge $((udp_sent - ${drops:-0})) ] && [ "$written" -le "${packets:-0}" ] && echo 1 || echo 0)" \
    "no intel record lost: $written written = $read_back read ($files_written files = $files_removed consumed), >= $udp_sent sent - ${drops:-0} kernel drops, <= $packets packets"
  check "$([ "$left" -eq 0 ] && echo 1 || echo 0)" "no file left in intel/ 26 frames after the flood (frame $frame0 -> $f)"
  check "$(calc "$min_fps >= 30")" "at least 30 FPS in every sample during the flood: lowest $min_fps"
} >"$out/soak.txt"
cat "$out/soak.txt"
"$work/plot_series" "$table" "$out/soak.png" "SOAK $minutes MIN AT $rate PER S" >/dev/null 2>&1 &&
  echo "plot: $out/soak.png"
bench_stop
[ "$fails" -eq 0 ]
