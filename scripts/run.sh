#!/usr/bin/env bash
# Sets everything up, builds, and starts Tessel from its ready-to-run folder. On the first start
# (no settings yet) Tessel opens tessel-config to choose the adapter.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSEL_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
TESSEL_BUILD_DIR="$build" "$top/scripts/build.sh"
run="$build/run"

# Capturing needs CAP_NET_RAW; grant it to the freshly built programs when we can.
if [ "$(id -u)" -ne 0 ]; then
  if command -v setcap >/dev/null && sudo -n true 2>/dev/null; then
    sudo setcap cap_net_raw,cap_net_admin=eip "$run/tessel" "$run/tessel-config" || true
  elif ! getcap "$run/tessel" 2>/dev/null | grep -q cap_net_raw; then
    echo "Tessel needs the right to capture packets. Grant it once with:"
    echo "  sudo setcap cap_net_raw,cap_net_admin=eip $run/tessel $run/tessel-config"
  fi
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "No X display (DISPLAY is not set): starting Tessel on a virtual screen (Xvfb)." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

cd "$run"
conf=${TESSEL_CONFIG:-${XDG_CONFIG_HOME:-$HOME/.config}/Ashgrove/Tessel.conf}
if [ ! -f "$conf" ]; then
  nic=$(awk '$2 == "00000000" && $8 == "00000000" { print $1; exit }' /proc/net/route)
  nic=${nic:-lo}
  echo "First start: capturing on $nic (the adapter of the default route). Change it with tessel-config."
  ./tessel-config --nic "$nic" --windowed >/dev/null
fi
exec ./tessel "$@"
