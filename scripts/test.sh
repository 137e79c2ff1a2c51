#!/usr/bin/env bash
# Sets everything up, builds, and runs every test inside a fresh network namespace whose only
# interface is loopback and whose resolver points at loopback, so nothing a test does (reverse
# look-ups included) can leave this machine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSEL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
# TESSEL_CMAKE_ARGS: extra configure flags (the sanitizer builds use it).
# shellcheck disable=SC2086
TESSEL_BUILD_DIR="$build" "$top/scripts/build.sh" ${TESSEL_CMAKE_ARGS:-}

jobs=${TESSEL_TEST_JOBS:-2}
ctest_cmd=(ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs" "$@")

if [ "$(id -u)" -eq 0 ]; then
  ns="tessel-test-$$"
  cleanup() {
    ip netns delete "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/$ns"
  }
  trap cleanup EXIT
  ip netns add "$ns"
  mkdir -p "/etc/netns/$ns"
  echo "nameserver 127.0.0.1" > "/etc/netns/$ns/resolv.conf"
  ip netns exec "$ns" ip link set lo up
  ip netns exec "$ns" "${ctest_cmd[@]}"
else
  # Without root: a user namespace gives us a private network and mount namespace.
  resolv=$(mktemp)
  echo "nameserver 127.0.0.1" > "$resolv"
  unshare --user --map-root-user --net --mount bash -c '
    set -e
    ip link set lo up
    mount --bind "$1" /etc/resolv.conf
    shift
    exec "$@"' _ "$resolv" "${ctest_cmd[@]}"
fi
