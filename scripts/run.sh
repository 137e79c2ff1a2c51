#!/usr/bin/env bash
# Sets everything up, builds, and starts Tessel from its ready-to-run folder. On the first start
# (no settings yet) Tessel opens tessel-config to choose the adapter.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSEL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
TESSEL_BUILD_DIR="$build" "$top/scripts/build.sh"
run="$build/run"

# Capturing needs CAP_NET_RAW, which only the small capture helper holds: grant it to the
# freshly built helper when we can. Without it, Tessel plays its demo capture instead.
args=("$@")
helper="$run/tessel-capture"
if [ "$(id -u)" -ne 0 ]; then
  if command -v setcap >/dev/null && sudo -n true 2>/dev/null; then
    sudo setcap cap_net_raw,cap_net_admin=eip "$helper" || true
  fi
  if ! getcap "$helper" 2>/dev/null | grep -q cap_net_raw; then
    echo "Tessel may not capture packets here (its helper needs the right CAP_NET_RAW), so it plays its demo capture."
    echo "To watch your own network, grant the right to the helper once with:"
    echo "  sudo setcap cap_net_raw,cap_net_admin=eip $helper"
    [ ${#args[@]} -gt 0 ] || args=(--demo)
  fi
fi

cd "$run"
if [ -z "${DISPLAY:-}" ]; then
  # Nobody could click through the settings window on a virtual screen: choose for the user.
  conf=${TESSEL_CONFIG:-${XDG_CONFIG_HOME:-$HOME/.config}/Ashgrove/Tessel.conf}
  if [ ! -f "$conf" ] && [ "${args[0]:-}" != --demo ]; then
    nic=$(awk '$2 == "00000000" && $8 == "00000000" { print $1; exit }' /proc/net/route)
    ./tessel-config --nic "${nic:-lo}" --windowed >/dev/null
    echo "Capturing on ${nic:-lo}; change it with $run/tessel-config."
  fi
  echo "No X display (DISPLAY is not set): starting Tessel on a virtual screen (Xvfb)." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ./tessel "${args[@]}"
fi
# On the first start Tessel opens the settings window; saving there starts Tessel again.
exec ./tessel "${args[@]}"
