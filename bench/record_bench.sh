#!/usr/bin/env bash
# Figure 11: making a video offline. `tessel --demo --record` (the SOFTWARE driver, videodriver=3,
# a 1000 x 600 window under Xvfb, 30 frames a second, H.264 in MP4) renders the minute of the demo
# capture on the video's own clock as fast as it can: seconds of video made per second of wall
# time, which must be above 1 (faster than real time). Run twice. Prints ROW lines for run.sh.
#   bench/record_bench.sh BUILD_DIR [RUNS]
# Needs Xvfb and ffprobe. The program looks no names up while recording and captures nothing.
set -euo pipefail
build=$(cd "${1:?usage: record_bench.sh BUILD_DIR [RUNS]}" && pwd)
runs=${2:-2}
for t in Xvfb xdotool ffprobe; do
  command -v $t >/dev/null || { echo "record_bench: $t is missing" >&2; exit 2; }
done
tessel=$build/run/tessel
[ -x "$tessel" ] && [ -f "$build/run/demo.pcap" ] || { echo "record_bench: build first" >&2; exit 2; }

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d /tmp/tessel-record.XXXXXX)
# No namespace here, so not bench_cleanup (it would delete one by an empty name).
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
bench_xvfb 161
bench_run_folder "$build"
cp "$build/run/demo.pcap" "$run/"
printf '[Software\\Ashgrove\\Tessel]\nfirstrun=1\nvideodriver=3\nfullscreen=1\nwidth=1000\nheight=600\n' \
  >"$work/Tessel.conf"

row() { echo "ROW,11,$1,$2,$3,$4,$5"; }
ok() { awk "BEGIN { exit !($1) }" && echo ok || echo MISS; }

for i in $(seq "$runs"); do
  video=$work/demo-$i.mp4
  t0=$(date +%s.%N)
  # The program's own CPU time too (user + system, the encoder's threads included): on a shared
  # machine the wall clock also counts the time it waited for a core.
  TIMEFORMAT='%U %S'
  { time (cd "$run" && env DISPLAY="$display" TESSEL_CONFIG="$work/Tessel.conf" TESSEL_DIALOGS=stderr \
    "$tessel" --demo --record "$video" --size 1000x600 --fps 30 >"$work/tessel-$i.out" 2>&1); } \
    2>"$work/time-$i"
  t1=$(date +%s.%N)
  read -r user sys <"$work/time-$i"
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
    -of csv=p=0 "$video")
  read -r wall video_s ratio cpu per_cpu < <(awk -v a="$t0" -v b="$t1" -v f="$frames" \
    -v u="$user" -v s="$sys" 'BEGIN { w = b - a; c = u + s; printf "%.1f %.1f %.2f %.1f %.2f\n",
      w, f / 30, (w > 0 ? f / 30 / w : 0), c, (c > 0 ? f / 30 / c : 0) }')
  echo "run $i: $frames frames ($video_s s of video) in $wall s ($cpu s of CPU):" \
    "$ratio video s per wall s, $per_cpu per CPU s; load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  tr '\r' '\n' <"$work/tessel-$i.out" | grep -E '^(recording 100|tessel: )' | tail -2 >&2 || true
  row "recording the demo (SOFTWARE 1000x600 30 fps H.264) run $i" "$ratio" "video s / wall s" \
    ">= 1" "$(ok "$ratio >= 1")"
  row "recording the demo: video s per CPU s of the program run $i" "$per_cpu" "video s / CPU s" - -
done
