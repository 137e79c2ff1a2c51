#!/usr/bin/env bash
# Builds the Debian package from the working tree as it is (uncommitted work included) in a
# scratch copy, so that build/ is left alone, and leaves tessel_<version>_<arch>.deb in the top
# folder. The build's output goes to package-build.log there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
log="$top/package-build.log"

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "tessel package: need root or sudo to install packages" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in build-essential dpkg-dev debhelper; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  echo "tessel package: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  updated=1
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# What debian/control asks for to build, when missing.
if ! dpkg-checkbuilddeps "$top/debian/control" 2>/dev/null; then
  echo "tessel package: installing the build dependencies"
  [ "$updated" = 1 ] || "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get build-dep -y -qq --no-install-recommends "$top"
fi

version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
deb="tessel_${version}_${arch}.deb"

work=$(mktemp -d "${TMPDIR:-/tmp}/tessel-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
src="$work/tessel-${version%-*}"
mkdir "$src"
# Tracked and new files as they are now, without what git ignores (build folders, earlier
# packages); outside a git checkout, everything but those.
if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$top" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -C "$src" -xf -
else
  tar -C "$top" --exclude='./build*' --exclude='./.git' --exclude='./obj-*' \
    --exclude='./tessel_*.deb' --exclude='./package-build.log' -cf - . | tar -C "$src" -xf -
fi

echo "tessel package: building $deb (log: $log)"
if ! (cd "$src" && dpkg-buildpackage -b -us -uc --jobs=auto) >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "tessel package: the build failed; the whole log is $log" >&2
  exit 1
fi
cp "$work/$deb" "$top/$deb"
echo "tessel package: $top/$deb"
