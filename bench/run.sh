#!/usr/bin/env bash
# Builds Tessel in Release, runs every benchmark, prints the table of figures against their
# targets, and writes bench/results/figures.csv, bench/results/figures.png and the raw logs.
#
#   bench/run.sh                 # everything
#   TESSEL_BUILD_DIR=... bench/run.sh      # another build folder (default: build-bench)
#   TESSEL_BENCH_BEFORE=old.csv bench/run.sh   # grey "before" bars in the plot
#   TESSEL_BENCH_SECONDS=8       # seconds per frame-rate phase
#   TESSEL_BENCH_FIGURES="3 5"   # only these figures (default: 1-7, 9-12 and the micro ones)
#   TESSEL_BENCH_SWEEP=1         # figure 4 also measures the frame rate for 0 to 6,000 live sprites
#   TESSEL_BENCH_FEED_SOAK=600   # seconds of figure 10's soak (the sFlow collector at 2k datagrams/s)
#
# The intel folder of every benchmark lies on a scratch file system: as root, a freshly made
# journaled ext4 image loop-mounted under the build folder (what a desktop has); otherwise, or
# with TESSEL_BENCH_SCRATCH set, that folder. Figures 1 and 3 are repeated on the build
# folder's own file system, marked [build fs]. Figures 1-2 need capture rights on "lo" (root or
# cap_net_raw); figure 4 needs Xvfb and Mesa (llvmpipe); figure 7 (the real program fed by
# tcpreplay in a network namespace) needs root, Xvfb and tcpreplay; figures 9-10 (the real
# program as an sFlow collector, fed real exporter datagrams in a network namespace) need root
# and Xvfb, and figure 10 takes TESSEL_BENCH_FEED_SOAK seconds (ten minutes); figure 11 (an
# offline recording of the demo) needs Xvfb and ffprobe; figure 12 writes two 1 GiB captures
# into a temporary folder. A missing piece skips its figures.
# Floods go to 127.0.0.1 only, are rate-bounded (at most 400k/s) and stop by themselves.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSEL_BUILD_DIR:-$top/build-bench}
results=$top/bench/results
seconds=${TESSEL_BENCH_SECONDS:-8}
mkdir -p "$results"
log=$results/run.log
: >"$log"

echo "Building (Release) in $build ..."
if [ -z "${TESSEL_BENCH_NO_BUILD:-}" ]; then
  micro=()  # the feed decoders' and the socket owners' micro benchmarks, where they exist
  for m in feed_bench netflow_bench owners_bench; do [ -f "$top/bench/$m.cpp" ] && micro+=("$m"); done
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_TESTS=OFF >>"$log" 2>&1 &&
    cmake --build "$build" --target run_folder tessel-capture flood_bench intel_bench upkeep_bench \
      frame_bench memory_bench seek_bench capture_bench scene_bench bench_plot tessel tessel-config \
      replay_capture feed_sender "${micro[@]}" >>"$log" 2>&1 ||
    { echo "build failed, see $log"; exit 1; }
fi
bin=$build/bench

mnt=""
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  if [ -n "$mnt" ]; then umount "$mnt" 2>/dev/null; rmdir "$mnt" 2>/dev/null; rm -f "$build/bench-fs.img"; fi
}
trap cleanup EXIT

scratch=${TESSEL_BENCH_SCRATCH:-}
if [ -z "$scratch" ] && [ "$(id -u)" = 0 ] && command -v mkfs.ext4 >/dev/null; then
  mnt=$build/bench-fs
  mkdir -p "$mnt"
  truncate -s 2G "$build/bench-fs.img" && mkfs.ext4 -q -F "$build/bench-fs.img" &&
    mount -o loop "$build/bench-fs.img" "$mnt" && scratch=$mnt || { rmdir "$mnt"; mnt=""; }
fi
scratch=${scratch:-$build}
fsname=$(df -T "$scratch" | awk 'NR==2{print $2}')
echo "Scratch file system: $scratch ($fsname$([ -n "$mnt" ] && echo ', journaled loop image'))"

rows=$results/rows.txt
: >"$rows"
figures=" ${TESSEL_BENCH_FIGURES:-1 2 3 4 5 6 7 9 10 11 12 micro} "
want() { [[ "$figures" == *" $1 "* ]]; }
run() {  # run <label> <timeout> <program> [args...]
  local label=$1 limit=$2
  shift 2
  echo "== $* [$label]" >>"$log"
  TESSEL_BENCH_LABEL=$label timeout "$limit" "$@" 2>>"$log" | tee -a "$log" | grep '^ROW,' >>"$rows"
}
canCapture=0
if [ "$(id -u)" = 0 ] || getcap "$bin/flood_bench" 2>/dev/null | grep -q cap_net_raw; then canCapture=1; fi

cd "$build"
want 1 && echo "Figures 1-2: loopback floods ..."
if ! want 1; then :
elif [ $canCapture = 1 ]; then
  TESSEL_BENCH_SCRATCH=$scratch run "$fsname" 120 "$bin/flood_bench" all
  [ -n "$mnt" ] && TESSEL_BENCH_SCRATCH=$build run "build fs" 60 "$bin/flood_bench" path
else
  echo "   skipped: no capture rights on lo"
fi
if want 3; then
  echo "Figure 3: intel pass ..."
  TESSEL_BENCH_SCRATCH=$scratch run "$fsname" 600 "$bin/intel_bench"
  [ -n "$mnt" ] && TESSEL_BENCH_SCRATCH=$build run "build fs" 900 "$bin/intel_bench"
fi
want 4 && echo "Figure 4: frames under Xvfb ..."
if ! want 4; then :
elif command -v Xvfb >/dev/null; then
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >>"$log" 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  DISPLAY=$display LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe TESSEL_BENCH_SCRATCH=$scratch \
    run "llvmpipe" $((seconds * 12 + 90)) "$bin/frame_bench" "$seconds" ${TESSEL_BENCH_SWEEP:+sweep}
  kill "$xvfb" 2>/dev/null; xvfb=""
else
  echo "   skipped: no Xvfb"
fi
if want 5; then echo "Figures 5 and 8: scene upkeep, the names over the cubes, the status line ..."; run "" 300 "$bin/upkeep_bench"; fi
if want 6; then echo "Figure 6: memory ..."; TESSEL_BENCH_SCRATCH=$scratch run "" 900 "$bin/memory_bench"; fi
# The 1 GiB captures are written into a temporary folder and deleted after each run.
if want 12; then echo "Figure 12: seeking in a 1 GiB capture ..."; TESSEL_BENCH_SCRATCH=${TMPDIR:-/tmp} run "" 600 "$bin/seek_bench"; fi
want 7 && echo "Figure 7: the real program under tcpreplay ..."
if ! want 7; then :
elif [ "$(id -u)" = 0 ] && command -v tcpreplay >/dev/null && command -v Xvfb >/dev/null; then
  run "" $((seconds * 4 + 120)) "$top/bench/program_bench.sh" "$build" "$seconds"
else
  echo "   skipped: needs root, tcpreplay and Xvfb"
fi
if want 9 || want 10; then
  feedSoak=0
  want 10 && feedSoak=${TESSEL_BENCH_FEED_SOAK:-600}
  echo "Figures 9-10: the real program as an sFlow collector$(want 10 && echo ", a soak of $feedSoak s") ..."
  if [ "$(id -u)" = 0 ] && command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    TESSEL_FEED_DROPS=$(want 9 && echo 1 || echo 0) \
      run "" $((feedSoak + 240)) "$top/bench/feed_bench.sh" "$build" "$feedSoak"
  else
    echo "   skipped: needs root, Xvfb and xdotool"
  fi
fi
want 11 && echo "Figure 11: recording the demo as a video ..."
if ! want 11; then :
elif command -v Xvfb >/dev/null && command -v ffprobe >/dev/null && command -v xdotool >/dev/null; then
  run "" 900 "$top/bench/record_bench.sh" "$build"
else
  echo "   skipped: needs Xvfb, xdotool and ffprobe"
fi
if want micro; then
  echo "Micro benchmarks (Google Benchmark) ..."
  (cd "$bin" && timeout 300 ./capture_bench --benchmark_min_time=0.5 >"$results/micro-capture.txt" 2>&1
   timeout 300 ./scene_bench --benchmark_min_time=0.2 >"$results/micro-scene.txt" 2>&1
   # The feed decoders: sFlow samples and NetFlow records a second; the program of a connection.
   for m in feed netflow owners; do
     [ -x "./${m}_bench" ] && timeout 300 "./${m}_bench" --benchmark_min_time=0.5 >"$results/micro-$m.txt" 2>&1
   done
   true)
fi

csv=$results/figures.csv
echo "figure,name,value,unit,target,verdict" >"$csv"
sed 's/^ROW,//' "$rows" >>"$csv"
rm -f "$rows"
echo
awk -F, 'NR==1{printf "%-3s %-4s %-62s %14s %-10s %-14s %s\n","#","fig","measure","value","unit","target","verdict"; next}
         {printf "%-3d %-4s %-62s %14.6g %-10s %-14s %s\n",NR-1,$1,$2,$3,$4,$5,$6}' "$csv"
before=${TESSEL_BENCH_BEFORE:-}
if "$build/bench/bench_plot" "$csv" "$results/figures.png" $before; then
  echo; echo "Wrote $csv and $results/figures.png (log: $log)"
fi
