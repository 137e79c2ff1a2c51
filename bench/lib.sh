# Shared by the benchmark scripts that run the real program (soak.sh, program_bench.sh): a
# network namespace of their own, a private X server, a run folder, the program's window and its
# scene dump. Source it, then set $work (a scratch folder) and $ns (the namespace's name) before
# calling these; every wait is bounded.

pids=()
display=
run=
tpid=
window=

# Kills what was started, deletes the namespace, its resolver file and $work (the EXIT trap).
bench_cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
  ip netns delete "$ns" 2>/dev/null || true
  rm -rf "/etc/netns/$ns" "$work"
}

# The namespace $ns with its loopback up and a resolver on loopback, where nothing answers, so
# the program's reverse look-ups never leave it.
bench_namespace() {
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  mkdir -p "/etc/netns/$ns"
  echo 'nameserver 127.0.0.1' >"/etc/netns/$ns/resolv.conf"
}

# Xvfb on the first free display from $1 on; sets $display.
bench_xvfb() {
  local n xpid
  for n in $(seq "$1" $(($1 + 40))); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
  done
  [ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xpid=$!
  pids+=($xpid)
  for _ in $(seq 100); do
    kill -0 $xpid 2>/dev/null || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    sleep 0.1
  done
}

# A run folder with the data files of build $1; sets $run.
bench_run_folder() {
  run=$work/run
  mkdir -p "$run/intel"
  for f in res.dat splash.bmp services.txt readme.txt; do cp "$1/run/$f" "$run/"; done
}

# Starts program $1 in $run inside $ns with settings file $2 and the arguments after them, and
# waits for its window; sets $tpid (the program's process) and $window. Extra environment comes
# from $bench_env (an array of NAME=value).
bench_start() {
  local program=$1 conf=$2
  shift 2
  (cd "$run" && ulimit -c unlimited && exec env DISPLAY="$display" TESSEL_CONFIG="$conf" \
    TESSEL_DIALOGS=stderr TESSEL_SPLASH_MS=0 "${bench_env[@]}" \
    ip netns exec "$ns" "$program" "$@" >"$work/tessel.out" 2>&1) &
  tpid=$!
  pids+=($tpid)
  window=
  for _ in $(seq 150); do
    window=$(DISPLAY=$display xdotool search --name '^Tessel \[' 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    kill -0 $tpid 2>/dev/null || break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "no tessel window"; cat "$work/tessel.out"; exit 1; }
  DISPLAY=$display xdotool windowfocus --sync "$window" 2>/dev/null || true
}

# Ends the program with Escape (killed after 10 s).
bench_stop() {
  DISPLAY=$display xdotool key --window "$window" Escape 2>/dev/null || true
  for _ in $(seq 100); do kill -0 $tpid 2>/dev/null || break; sleep 0.1; done
  kill $tpid 2>/dev/null || true
  wait $tpid 2>/dev/null || true
}

# One scene dump (SIGUSR1; bounded wait); prints its text.
bench_dump() {
  rm -f "$run/scene-dump.txt"
  kill -USR1 $tpid 2>/dev/null || return 0
  for _ in $(seq 250); do [ -e "$run/scene-dump.txt" ] && break; sleep 0.02; done
  cat "$run/scene-dump.txt" 2>/dev/null || true
}

# The frame rate in the window's caption.
bench_caption_fps() {
  DISPLAY=$display xdotool getwindowname "$window" 2>/dev/null | sed -n 's/.*FPS:\([0-9]*\).*/\1/p'
}
