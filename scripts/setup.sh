#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tessel needs, when missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libirrlicht-dev libpcap-dev libsdl2-dev libx11-dev libgl-dev libfreetype-dev fonts-dejavu-core fonts-dejavu-extra
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev ffmpeg
  libloc-dev libloc-database libmaxminddb-dev
  xfonts-base xdg-utils libcap2-bin
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils libgl1-mesa-dri iproute2 clang python3 curl iputils-ping tcpdump netcat-openbsd
  pmacct softflowd tshark
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "tessel setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "tessel setup: need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
