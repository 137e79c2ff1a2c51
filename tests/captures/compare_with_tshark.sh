#!/usr/bin/env bash
# Compares the decoder's records with tshark's on every capture file of a folder and prints the
# totals: files, frames, records matched, missing (tshark has it, the decoder not) and
# unexpected (the other way round), then the files with differences. Needs tshark.
#   tests/captures/compare_with_tshark.sh FOLDER
# TESSEL_TSHARK_CACHE=DIR keeps tshark's readings there between runs (tshark is the slow part).
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
folder=$1
cache=${TESSEL_TSHARK_CACHE:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -std=c++17 -O1 -I"$top/src" "$top/tests/captures/decode_capture.cpp" \
  "$top/src/capture/packet_decoder.cpp" "$top/src/capture/link_layers.cpp" \
  "$top/src/core/address_text.cpp" -lpcap -o "$work/decode_capture"
files=0 frames=0 matched=0 missing=0 unexpected=0
for f in "$folder"/*.pcap "$folder"/*.pcapng; do
  [ -f "$f" ] || continue
  files=$((files + 1))
  name=$(basename "$f")
  if [ -n "$cache" ] && [ -f "$cache/$name.frames" ]; then
    cp "$cache/$name.want" "$work/want"
    cp "$cache/$name.frames" "$work/frames"
  else
    tshark -r "$f" -T fields -e frame.number 2>/dev/null | wc -l >"$work/frames"
    python3 "$top/tests/captures/tshark_records.py" "$f" |
      awk '{ $7 = $7 % 65536; print }' | sort >"$work/want"
    if [ -n "$cache" ]; then
      mkdir -p "$cache"
      cp "$work/want" "$cache/$name.want"
      cp "$work/frames" "$cache/$name.frames"
    fi
  fi
  frames=$((frames + $(cat "$work/frames")))
  "$work/decode_capture" "$f" 2>/dev/null | sort >"$work/got" || true
  m=$(comm -12 "$work/want" "$work/got" | wc -l)
  a=$(comm -23 "$work/want" "$work/got" | wc -l)
  b=$(comm -13 "$work/want" "$work/got" | wc -l)
  matched=$((matched + m)) missing=$((missing + a)) unexpected=$((unexpected + b))
  if [ "$a" -gt 0 ] || [ "$b" -gt 0 ]; then
    echo "$(basename "$f"): missing $a unexpected $b" >>"$work/differ"
  fi
done
echo "files $files frames $frames matched $matched missing $missing unexpected $unexpected"
[ -f "$work/differ" ] && sort -t: -k1 "$work/differ"
exit 0
