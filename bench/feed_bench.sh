#!/usr/bin/env bash
# Figures 9 and 10: the real program as an sFlow collector. `tessel --sflow PORT` (the SOFTWARE
# driver, a 1000 x 600 window under Xvfb) listens in a network namespace of its own while
# feed_sender replays real pmacctd sfprobe datagrams to it from 20 exporters, each from its own
# socket with its own agent address and a gapless sequence.
#   9: 20,000 datagrams/s for 10 s: the datagrams the kernel dropped at the collector's socket
#      (SO_RXQ_OVFL, as the scene dump's feed line states it, and the socket's drop count in
#      /proc/net/udp6 as a cross-check); sent = read + dropped; frame rate and CPU meanwhile.
#   10: the soak, 2,000 datagrams/s for SOAK_SECONDS (default 600) into a freshly started
#      program: resident memory after the warm-up (2 minutes, or a fifth of a shorter soak)
#      against the end, the frame rate in the caption (every 2 s), and nothing lost uncounted:
#      datagrams sent = datagrams the collector read + socket drops.
# Prints ROW lines for run.sh and writes bench/results/feed-soak.tsv.
#   bench/feed_bench.sh BUILD_DIR [SOAK_SECONDS]
# SOAK_SECONDS 0 leaves out figure 10; TESSEL_FEED_DROPS=0 leaves out figure 9;
# TESSEL_FEED_CAPTURE=FILE replays another capture of sFlow datagrams; TESSEL_FEED_ARGS adds
# arguments to the program's command line (for example "--maxfps 60").
# Needs root (the namespace), Xvfb and xdotool. The datagrams go to 127.0.0.1 inside the
# namespace only; the sender is bounded in rate and time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: feed_bench.sh BUILD_DIR [SOAK_SECONDS]}" && pwd)
soak=${2:-600}
[[ $soak =~ ^[0-9]+$ ]] && [ "$soak" -le 3600 ] || { echo "feed_bench: SOAK_SECONDS 0..3600" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "feed_bench: needs root" >&2; exit 2; }
for t in Xvfb xdotool ip; do
  command -v $t >/dev/null || { echo "feed_bench: $t is missing" >&2; exit 2; }
done
tessel=$build/run/tessel
sender=$build/bench/feed_sender
[ -x "$tessel" ] && [ -x "$sender" ] || { echo "feed_bench: build tessel and feed_sender first" >&2; exit 2; }
capture=${TESSEL_FEED_CAPTURE:-$top/tests/captures/feeds/sflow_pmacctd.pcap}
[ -f "$capture" ] || { echo "feed_bench: no capture $capture" >&2; exit 2; }
results=$top/bench/results
mkdir -p "$results"

# shellcheck source=bench/lib.sh
. "$top/bench/lib.sh"
work=$(mktemp -d /tmp/tessel-feed.XXXXXX)
ns=tfeed$$
trap bench_cleanup EXIT

port=6343
exporters=20
bench_namespace
bench_xvfb 161
bench_run_folder "$build"
printf '[Software\\Ashgrove\\Tessel]\nfirstrun=1\nnic=lo\nvideodriver=3\nfullscreen=0\nwidth=1000\nheight=600\n' \
  >"$work/Tessel.conf"
bench_env=(TESSEL_CONFIG_TOOL=/bin/true)

ok() { awk "BEGIN { exit !($1) }" && echo ok || echo MISS; }
calc() { awk "BEGIN { print ($1) }"; }
# A number from the scene dump's feed line ("feed sFlow datagrams N exporters N ...").
feed() { awk -v k="$1" '$1 == "feed" { for (i = 2; i < NF; ++i) if ($i == k) { print $(i + 1); exit } }'; }
# The number after a line's first word in the dump $d ("nodes 8", "intel-waiting 0").
dump() { echo "$d" | awk -v k="$1" '$1 == k { print $2; exit }'; }
# A number from "sent datagrams N samples N ..." (the sender's report).
sent() { awk -v k="$1" '{ for (i = 1; i < NF; ++i) if ($i == k) { print $(i + 1); exit } }' "$2"; }
# The drop count of the collector's socket as the kernel keeps it (/proc/net/udp{,6}).
udp_drops() {
  ip netns exec "$ns" awk -v p="$(printf ':%04X' $port)" \
    'FNR > 1 && substr($2, length($2) - 4) == p { n += $NF } END { print n + 0 }' /proc/net/udp /proc/net/udp6
}
rss_mb() { awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$tpid/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$tpid/stat"; }
# CPU ticks per thread: "name/id ticks" lines.
thread_ticks() {
  local t
  for t in /proc/"$tpid"/task/*; do
    echo "$(tr -d ' ' <"$t/comm")/${t##*/} $(awk '{ print $14 + $15 }' "$t/stat")"
  done | sort
}
median() { grep -E '^[0-9]+$' | sort -n | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : 0) }'; }
# Waits until the collector has read what was sent: its datagram count stands still over 1 s
# (at most 60 s); prints the last dump.
settled() {
  local last=-1 d n
  for _ in $(seq 60); do
    d=$(bench_dump)
    n=$(echo "$d" | feed datagrams)
    [ -n "$n" ] && [ "$n" = "$last" ] && break
    last=$n
    sleep 1
  done
  echo "$d"
}
start_collector() {
  # An X server resets when its last client leaves, and a client that connects meanwhile is
  # refused: a client that stays connected (from inside the namespace, as the program will
  # connect) keeps the server up between the checks and the program's start (bounded wait).
  if [ -z "${holder:-}" ] || ! kill -0 "$holder" 2>/dev/null; then
    for _ in $(seq 50); do
      ip netns exec "$ns" env DISPLAY="$display" xdotool sleep 100000 >/dev/null 2>&1 &
      holder=$!
      pids+=($holder)
      sleep 0.5
      kill -0 $holder 2>/dev/null && break
    done
  fi
  # shellcheck disable=SC2086
  bench_start "$tessel" "$work/Tessel.conf" --sflow "$port" ${TESSEL_FEED_ARGS:-}
  [ "$(cat "/proc/$tpid/comm" 2>/dev/null)" = tessel ] || { echo "feed_bench: $tpid is not tessel" >&2; exit 1; }
  sleep 3
}

if [ "${TESSEL_FEED_DROPS:-1}" != 0 ]; then
  rate=20000 seconds=10
  start_collector
  d0=$(bench_dump)
  u0=$(udp_drops)
  c0=$(cpu_ticks) t0=$(date +%s.%N)
  thread_ticks >"$work/threads0"
  ip netns exec "$ns" "$sender" --capture "$capture" --port $port --rate $rate --seconds $seconds \
    --exporters $exporters >"$work/drops.sent" 2>>"$work/sender.err" &
  spid=$!
  pids+=($spid)
  fps=()
  for _ in $(seq $((seconds * 2))); do sleep 0.5; fps+=("$(bench_caption_fps)"); done
  wait $spid || true
  c1=$(cpu_ticks) t1=$(date +%s.%N)
  thread_ticks >"$work/threads1"
  d1=$(settled)
  u1=$(udp_drops)
  echo "$d1" | grep -E '^(feed|nodes|beams|frames|intel|hand-off) ' >&2 || true
  cat "$work/drops.sent" >&2
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  echo "CPU per thread during the flood (% of a core):" \
    "$(join "$work/threads0" "$work/threads1" | awk -v hz="$(getconf CLK_TCK)" -v s="$(calc "$t1 - $t0")" \
      '{ printf "%s %.0f  ", $1, ($3 - $2) / hz / s * 100 }')" >&2
  bench_stop

  n_sent=$(sent datagrams "$work/drops.sent")
  n_read=$(($(echo "$d1" | feed datagrams) - $(echo "$d0" | feed datagrams)))
  n_drop=$(($(echo "$d1" | feed socket-drops) - $(echo "$d0" | feed socket-drops)))
  n_lost=$(($(echo "$d1" | feed lost) - $(echo "$d0" | feed lost)))
  n_frames=$(($(echo "$d1" | feed frames-dropped) - $(echo "$d0" | feed frames-dropped)))
  n_udp=$((u1 - u0))
  unaccounted=$((n_sent - n_read - n_drop))
  cpu=$(calc "($c1 - $c0) / $(getconf CLK_TCK) / ($t1 - $t0) * 100")
  row() { echo "ROW,9,sFlow at 20k datagrams/s for 10 s: $1,$2,$3,$4,$5"; }
  row "socket drops (feed line; kernel: $n_udp)" "$n_drop" datagrams 0 "$(ok "$n_drop == 0 && $n_udp == 0")"
  row "datagrams sent - read - socket drops ($n_sent sent)" "$unaccounted" datagrams 0 "$(ok "$unaccounted == 0")"
  row "sequence gaps seen by the collector" "$n_lost" datagrams - -
  row "frames dropped; flow schedule full" "$n_frames" frames - -
  row "FPS (median of the caption)" "$(printf '%s\n' "${fps[@]}" | median)" FPS - -
  row "CPU of the program" "$(printf '%.1f' "$cpu")" "% of a core" - -
fi

if [ "$soak" -gt 0 ]; then
  rate=2000 step=2 every=5
  warm=$((soak / 5 < 120 ? soak / 5 : 120))
  warm=$((warm / (step * every) * step * every))
  table=$results/feed-soak.tsv
  start_collector
  ip netns exec "$ns" "$sender" --capture "$capture" --port $port --rate $rate --seconds "$soak" \
    --exporters $exporters >"$work/soak.sent" 2>>"$work/sender.err" &
  spid=$!
  pids+=($spid)
  t0=$(date +%s.%N) c0=$(cpu_ticks)
  echo "seconds rss_mb fps datagrams socket_drops nodes beams intel_waiting load" >"$table"
  fps=() k=0
  echo "soak: $soak s at $rate datagrams/s from $exporters exporters (warm-up $warm s)" >&2
  while kill -0 $spid 2>/dev/null; do
    left=$(calc "$t0 + $k * $step - $(date +%s.%N)")
    [ "$(calc "$left > 0")" = 1 ] && sleep "$left"
    kill -0 $tpid 2>/dev/null || { echo "feed_bench: tessel ended during the soak" >&2; cat "$work/tessel.out" >&2; exit 1; }
    kill -0 $spid 2>/dev/null || break
    f=$(bench_caption_fps)
    [ $k -gt 0 ] && fps+=("$f")
    if [ $((k % every)) = 0 ]; then
      d=$(bench_dump)
      line="$((k * step)) $(rss_mb) ${f:-0} $(echo "$d" | feed datagrams) $(echo "$d" | feed socket-drops)"
      line+=" $(dump nodes) $(dump beams) $(dump intel-waiting) $(cut -d' ' -f1 /proc/loadavg)"
      echo "$line" >>"$table"
      echo "  $line" >&2
    fi
    k=$((k + 1))
  done
  wait $spid || true
  c1=$(cpu_ticks) t1=$(date +%s.%N)
  d=$(settled)
  udp=$(udp_drops)
  echo "$d" | grep -E '^(feed|nodes|beams|frames|intel|hand-off) ' >&2 || true
  cat "$work/soak.sent" >&2
  bench_stop

  n_sent=$(sent datagrams "$work/soak.sent")
  n_read=$(echo "$d" | feed datagrams)
  n_drop=$(echo "$d" | feed socket-drops)
  unaccounted=$((n_sent - n_read - n_drop))
  # Resident memory at the end of the warm-up against the last sample of the flood, and the
  # worst sample in between.
  read -r rss_warm rss_end worst < <(awk -v w="$warm" 'NR > 1 && $1 >= w { if (base == "") base = $2;
      d = ($2 - base) / base * 100; if (d < 0) d = -d; if (d > worst) worst = d; last = $2 }
      END { printf "%s %s %.1f\n", base, last, worst }' "$table")
  change=$(calc "($rss_end - $rss_warm) / $rss_warm * 100")
  fps_min=$(printf '%s\n' "${fps[@]}" | grep -E '^[0-9]+$' | sort -n | head -1)
  fps_med=$(printf '%s\n' "${fps[@]}" | median)
  cpu=$(calc "($c1 - $c0) / $(getconf CLK_TCK) / ($t1 - $t0) * 100")
  span="$((soak / 60)) min $((soak % 60)) s"
  row() { echo "ROW,10,sFlow soak $span at 2k datagrams/s from $exporters exporters: $1,$2,$3,$4,$5"; }
  row "resident memory at ${warm} s" "$rss_warm" MB - -
  row "resident memory at the end" "$rss_end" MB - -
  size=$(calc "($change) < 0 ? -1 * ($change) : ($change)")
  row "resident memory; end against ${warm} s: $(printf '%+.1f' "$change") % (worst sample ${worst} %)" \
    "$(printf '%.1f' "$size")" "% off" "<= 10" "$(ok "$size <= 10")"
  row "FPS; lowest caption sample (median ${fps_med:-0})" "${fps_min:-0}" FPS ">= 30" "$(ok "${fps_min:-0} >= 30")"
  row "datagrams sent - read - socket drops ($n_sent sent; $n_drop drops; kernel $udp)" "$unaccounted" datagrams 0 \
    "$(ok "$unaccounted == 0")"
  row "sequence gaps seen by the collector" "$(echo "$d" | feed lost)" datagrams - -
  row "intel records waiting; most in a sample" "$(awk 'NR > 1 && $8 > m { m = $8 } END { print m + 0 }' "$table")" records - -
  row "CPU of the program" "$(printf '%.1f' "$cpu")" "% of a core" - -
fi
