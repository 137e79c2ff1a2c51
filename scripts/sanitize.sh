#!/usr/bin/env bash
# The sanitizer and fuzzing stages of CI:
#   asan   the whole suite built with AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan   the threaded tests and a 30-second flood of the real program under ThreadSanitizer
#   fuzz   libFuzzer (clang) on the frame decoder, the intel reader and the sFlow decoder, 60 s each
# Usage: scripts/sanitize.sh [asan] [tsan] [fuzz]   (all three by default)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(asan tsan fuzz)
supp="$top/tests/sanitizers"
fuzz_seconds=${TESSEL_FUZZ_SECONDS:-60}

for stage in "${stages[@]}"; do
  case "$stage" in
    asan)
      echo "== ASan + UBSan: whole suite"
      # The media generator runs under ASan during the build too; leaks of the engine and the GL
      # stack at exit are suppressed (tests/sanitizers/lsan.supp).
      mkdir -p "$top/build-asan"
      cc -shared -fPIC -o "$top/build-asan/libkeep_modules.so" "$supp/keep_modules.c"
      LD_PRELOAD="$top/build-asan/libkeep_modules.so" \
      ASAN_OPTIONS="detect_leaks=1:verify_asan_link_order=0" \
      LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
      TESSEL_BUILD_DIR="$top/build-asan" \
      TESSEL_CMAKE_ARGS="-DTESSEL_SANITIZE=address,undefined -DTESSEL_BUILD_BENCH=OFF" \
        "$top/scripts/test.sh"
      ;;
    tsan)
      echo "== TSan: threaded tests and a 30-second flood"
      TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=0:exitcode=66:report_signal_unsafe=0" \
      TESSEL_FLOOD_SECONDS=30 TESSEL_FLOOD_RATE=500 \
      TESSEL_BUILD_DIR="$top/build-tsan" \
      TESSEL_CMAKE_ARGS="-DTESSEL_SANITIZE=thread -DTESSEL_BUILD_BENCH=OFF" \
        "$top/scripts/test.sh" -R 'LiveCapture|SocketOwners|HandOff|IntelFiles|EventLog|NameResolver|StatsSamples|Flood|ReplayProgram|SeekProgram|FeedProgram'
      ;;
    fuzz)
      echo "== libFuzzer: ${fuzz_seconds} s per target"
      fb="$top/build-fuzz"
      CC=clang CXX=clang++ cmake -S "$top" -B "$fb" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTESSEL_SANITIZE=fuzzer-no-link,address,undefined -DTESSEL_BUILD_TESTS=OFF -DTESSEL_BUILD_BENCH=OFF >/dev/null
      cmake --build "$fb" --target fuzz_frame_decoder fuzz_intel_reader fuzz_sflow_decoder fuzz_netflow_decoder
      for target in frame_decoder intel_reader sflow_decoder netflow_decoder; do
        work=$(mktemp -d)
        cp -r "$top/fuzz/corpus/$target/." "$work/"
        # New crashes land in fuzz/corpus as regression files for the replay tests.
        ASAN_OPTIONS=detect_leaks=0 "$fb/fuzz/fuzz_$target" -max_total_time="$fuzz_seconds" \
          -artifact_prefix="$top/fuzz/corpus/$target/crash-" -print_final_stats=1 "$work"
        rm -rf "$work"
      done
      ;;
    *) echo "unknown stage $stage" >&2; exit 2 ;;
  esac
done
