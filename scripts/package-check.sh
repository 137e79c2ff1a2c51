#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian, the desktop entry and the AppStream metadata
# as shipped, then a fresh Debian 12 chroot where it is installed as a user would install it
# (debconf answered with its default), its capture rights are checked, reinstalled, changed with
# dpkg-reconfigure and purged, and finally Tessel captures live, run by a member of the group
# "tessel" under Xvfb, on the loopback of a network namespace of its own: nothing leaves this
# machine but the downloads from the Debian archive.
#
# TESSEL_CHROOT_CACHE=DIR keeps the downloaded Debian packages in DIR between runs (default:
# no cache, everything is fetched afresh). Output of the long steps: package-check.log.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mirror=http://deb.debian.org/debian

if [ "$(id -u)" -ne 0 ]; then
  # debootstrap, chroot, mounts and network namespaces all need root.
  command -v sudo >/dev/null || { echo "package-check: needs root (or sudo)" >&2; exit 1; }
  exec sudo TESSEL_CHROOT_CACHE="${TESSEL_CHROOT_CACHE:-}" "$0" "$@"
fi

start=$SECONDS
log="$top/package-check.log"
: >"$log"
step() { echo "== $* [$((SECONDS - start)) s]"; }
fail() {
  echo "package-check: FAIL: $*" >&2
  exit 1
}
# Runs a command with its output in the log; on failure shows the end of it.
logged() {
  echo "+ $*" >>"$log"
  if ! "$@" >>"$log" 2>&1; then
    tail -n 25 "$log" | sed 's/^/  | /' >&2
    return 1
  fi
}

host_tools=(lintian debootstrap desktop-file-utils appstream iproute2 util-linux libcap2-bin)
missing=()
for p in "${host_tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "package-check: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cache=${TESSEL_CHROOT_CACHE:-}
if [ -n "$cache" ]; then
  mkdir -p "$cache/debootstrap" "$cache/archives/partial"
  cache=$(cd "$cache" && pwd)
fi

work=$(mktemp -d /var/tmp/tessel-check.XXXXXX)
root="$work/chroot"
bootstrap_pid=

mounted_under() { awk -v d="$1" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/mounts; }

cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  if [ -n "$bootstrap_pid" ] && kill "$bootstrap_pid" 2>/dev/null; then
    for _ in $(seq 50); do kill -0 "$bootstrap_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  if [ -d "$root" ]; then
    # Whatever still runs inside the chroot was started by this script.
    local p pids=()
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && pids+=("${p#/proc/}")
    done
    if [ ${#pids[@]} -gt 0 ]; then
      kill -KILL "${pids[@]}" 2>/dev/null || true
      sleep 1
    fi
    local m
    for m in $(mounted_under "$root" | sort -r); do
      umount "$m" 2>/dev/null || umount -l "$m" || true
    done
  fi
  if [ -n "$(mounted_under "$work")" ]; then
    echo "package-check: something is still mounted under $work; left in place" >&2
  else
    rm -rf "$work"
  fi
  echo "package-check: $((SECONDS - start)) s"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The chroot is made while the package builds: one waits on the network, the other on the CPUs.
step "debootstrap bookworm (minbase) in the background"
bootstrap_args=(--variant=minbase)
[ -z "$cache" ] || bootstrap_args+=(--cache-dir="$cache/debootstrap")
timeout 900 debootstrap "${bootstrap_args[@]}" bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 &
bootstrap_pid=$!

step "scripts/package.sh"
"$top/scripts/package.sh"
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
upstream=${version%-*}
deb="tessel_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb"
[ -f "$top/$deb" ] || fail "package.sh left no $deb"

step "lintian $deb"
# Overridden tags are listed too (O:, each with its reason); only E: and W: fail.
lintian_rc=0
lintian_out=$(lintian --display-info --show-overrides "$top/$deb" 2>&1) || lintian_rc=$?
echo "$lintian_out"
if grep -q '^[EW]: ' <<<"$lintian_out"; then fail "lintian reports errors or warnings"; fi
[ "$lintian_rc" = 0 ] || fail "lintian failed (status $lintian_rc)"

step "what the package ships"
mkdir "$work/deb"
dpkg-deb -x "$top/$deb" "$work/deb"
desktop-file-validate "$work/deb/usr/share/applications/tessel.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$work/deb/usr/share/metainfo/tessel.metainfo.xml" ||
  fail "appstreamcli validate"
for n in 16 32 48 64 128 256; do
  png="$work/deb/usr/share/icons/hicolor/${n}x${n}/apps/tessel.png"
  [ -f "$png" ] || fail "no ${n}x${n} icon"
  # Width and height, big-endian, at bytes 16 to 23 of a PNG.
  size=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
  [ "$size" = "${n}x${n}" ] || fail "the ${n}x${n} icon is $size"
done
for m in man1/tessel.1.gz man1/tessel-config.1.gz man8/tessel-capture.8.gz; do
  [ -f "$work/deb/usr/share/man/$m" ] || fail "no manual page $m"
done
echo "desktop entry, metainfo, icons and manual pages: ok"

step "waiting for debootstrap"
if ! wait "$bootstrap_pid"; then
  bootstrap_pid=
  tail -n 25 "$work/debootstrap.log" >&2
  fail "debootstrap"
fi
bootstrap_pid=
cat "$work/debootstrap.log" >>"$log"

mkdir -p "$root/proc" "$root/sys" "$root/dev/pts" "$root/dev/shm"
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
ln -sf pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
if [ -n "$cache" ]; then
  mount --bind "$cache/archives" "$root/var/cache/apt/archives"
else
  # Without a cache the chroot's own copies only cost space.
  echo 'Binary::apt::APT::Keep-Downloaded-Packages "false";' >"$root/etc/apt/apt.conf.d/90nokeep"
fi
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
# A throw-away system: no services started, no fsync.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 0755 "$root/usr/sbin/policy-rc.d"
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/unsafe-io"
echo 'Acquire::Retries "3";' >"$root/etc/apt/apt.conf.d/80retries"
install -m 0644 "$top/$deb" "$root/tmp/$deb"

in_root() {
  timeout "${limit:-120}" chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
expect() {  # label, actual, wanted
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    fail "$1: got '$2', wanted '$3'"
  fi
}
rights() {  # owner:group mode | capabilities | override
  echo "$(in_root stat -c '%U:%G %a' /usr/bin/tessel-capture) | $(in_root getcap /usr/bin/tessel-capture) | $(in_root dpkg-statoverride --list /usr/bin/tessel-capture || true)"
}
granted="root:tessel 754 | /usr/bin/tessel-capture cap_net_admin,cap_net_raw=eip | root tessel 754 /usr/bin/tessel-capture"
withheld="root:root 755 |  | "

step "apt-get install ./$deb in the chroot"
limit=600 logged in_root apt-get update || fail "apt-get update in the chroot"
limit=600 logged in_root sh -c "cd /tmp && apt-get install -y ./$deb" || fail "installing $deb"
# What the checks below use, not what Tessel needs.
limit=600 logged in_root apt-get install -y --no-install-recommends xvfb iputils-ping ||
  fail "installing xvfb iputils-ping"

step "installed package"
expect "tessel --version" "$(in_root tessel --version)" "tessel $upstream"
list=$(in_root tessel-config --list) || fail "tessel-config --list"
echo "$list" | sed 's/^/  /'
echo "$list" | grep -q '^lo ' || fail "tessel-config --list does not list lo"
expect "debconf answer" "$(in_root debconf-show tessel | sed 's/^[* ] //')" "tessel/capture-group: true"
gid=$(in_root getent group tessel | cut -d: -f3)
if [ -z "$gid" ] || [ "$gid" -ge 1000 ]; then fail "no system group tessel (gid '$gid')"; fi
echo "ok: system group tessel ($gid)"
expect "tessel-capture rights" "$(rights)" "$granted"
expect "tessel capabilities" "$(in_root getcap /usr/bin/tessel)" ""
expect "tessel-config capabilities" "$(in_root getcap /usr/bin/tessel-config)" ""
in_root useradd -m -s /bin/bash -G tessel viewer
as() {  # user, command...
  local user=$1
  shift
  in_root setpriv --reuid="$user" --regid="$user" --init-groups \
    env HOME="/home/$user" USER="$user" "$@"
}
set +e
# Through a shell: setpriv itself still holds root's capabilities when it executes a program.
in_root setpriv --reuid=nobody --regid=nogroup --clear-groups \
  sh -c 'exec /usr/bin/tessel-capture --version' >/dev/null 2>&1
rc=$?
set -e
expect "a user outside the group may not run tessel-capture (exit status)" "$rc" 126
as viewer /usr/bin/tessel-capture --version >/dev/null || fail "a member of tessel cannot run tessel-capture"
echo "ok: a member of the group runs tessel-capture"

step "reinstall: the capabilities come back with the new file"
limit=300 logged in_root sh -c "cd /tmp && apt-get install -y --reinstall ./$deb" || fail "reinstalling"
expect "tessel-capture rights after a reinstall" "$(rights)" "$granted"

step "dpkg-reconfigure: no, then yes"
echo "tessel tessel/capture-group boolean false" | in_root debconf-set-selections
logged in_root dpkg-reconfigure -f noninteractive tessel || fail "dpkg-reconfigure (no)"
expect "tessel-capture rights after no" "$(rights)" "$withheld"
echo "tessel tessel/capture-group boolean true" | in_root debconf-set-selections
logged in_root dpkg-reconfigure -f noninteractive tessel || fail "dpkg-reconfigure (yes)"
expect "tessel-capture rights after yes" "$(rights)" "$granted"

step "purge, and install again"
limit=300 logged in_root apt-get purge -y tessel || fail "purging"
expect "override after purge" "$(in_root dpkg-statoverride --list /usr/bin/tessel-capture || true)" ""
expect "debconf answers after purge" "$(in_root debconf-show tessel)" ""
in_root getent group tessel >/dev/null || fail "the group tessel went with the purge"
echo "ok: the group tessel stays"
limit=300 logged in_root sh -c "cd /tmp && apt-get install -y ./$deb" || fail "installing after a purge"
expect "tessel-capture rights after a purge and install" "$(rights)" "$granted"
echo "package checks: all passed [$((SECONDS - start)) s]"

step "live capture as a member of tessel, in a network namespace of its own"
as viewer tessel-config --nic lo --windowed --maxfps 30 >/dev/null || fail "tessel-config --nic lo"
cat >"$root/tmp/live.sh" <<'EOF'
# Runs inside the chroot, as root, in a fresh network namespace whose loopback is up.
set -u
user=viewer
home=/home/$user
dump=$home/.local/share/Ashgrove/Tessel/scene-dump.txt
pid=
bg=
xvfb=
as_user() {
  setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$home" USER="$user" \
    LOGNAME="$user" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 TESSEL_DIALOGS=stderr "$@"
}
stop() {
  local i
  for p in $pid $bg $xvfb; do
    kill -TERM "$p" 2>/dev/null || continue
    for i in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$p" 2>/dev/null || true
  done
}
fail() {
  echo "live: FAIL: $*"
  [ -s /tmp/tessel.out ] && tail -n 20 /tmp/tessel.out | sed 's/^/  tessel: /'
  [ -s /tmp/xvfb.log ] && tail -n 20 /tmp/xvfb.log | sed 's/^/  Xvfb: /'
  stop
  exit 1
}
status_of() {
  "$@" >/dev/null 2>&1
  echo $?
}
check() {  # label, got, wanted
  [ "$2" = "$3" ] || fail "$1: got '$2', wanted '$3'"
  echo "ok: $1"
}
# SIGUSR1 ends a process that has not installed Tessel's handler yet.
catches_usr1() {
  local mask
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$mask" ] && (( 0x$mask & 0x200 ))
}
scene_dump() {
  local i
  rm -f "$dump"
  kill -USR1 "$pid" 2>/dev/null || return 1
  for i in $(seq 50); do
    [ -s "$dump" ] && { cat "$dump"; return 0; }
    sleep 0.1
  done
  return 1
}

check "tessel-capture --version" "$(as_user tessel-capture --version 2>&1)" "tessel-capture 0.1"
check "tessel-capture check lo" "$(status_of as_user tessel-capture check lo)" 0
check "tessel-capture check on no adapter" "$(status_of as_user tessel-capture check tessel-none0)" 3
check "tessel-capture check with a bad filter" "$(status_of as_user tessel-capture check lo 'port port')" 5
check "tessel-capture without an adapter" "$(status_of as_user tessel-capture frames)" 2

# Xvfb writes its display number to the -displayfd file once it accepts connections, so
# Tessel never starts before the server is there; its log shows on failure.
rm -f /tmp/tessel.pid /tmp/tessel.out /tmp/xvfb.display /tmp/xvfb.log
as_user Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>/tmp/xvfb.display \
  >/tmp/xvfb.log 2>&1 &
xvfb=$!
display=
for i in $(seq 100); do
  [ -s /tmp/xvfb.display ] && [ "$(wc -l </tmp/xvfb.display)" -ge 1 ] &&
    display=$(head -n 1 /tmp/xvfb.display | tr -cd 0-9)
  [ -n "$display" ] && break
  kill -0 "$xvfb" 2>/dev/null || fail "Xvfb ended at once"
  sleep 0.1
done
[ -n "$display" ] || fail "Xvfb did not start within 10 s"
as_user env DISPLAY=":$display" sh -c 'echo $$ > /tmp/tessel.pid; exec tessel' \
  >/tmp/tessel.out 2>&1 &
bg=$!
for i in $(seq 200); do
  [ -s /tmp/tessel.pid ] && pid=$(cat /tmp/tessel.pid) &&
    [ "$(readlink "/proc/$pid/exe")" = /usr/bin/tessel ] && catches_usr1 "$pid" && break
  pid=
  kill -0 "$bg" 2>/dev/null || fail "tessel ended at once"
  sleep 0.1
done
[ -n "$pid" ] || fail "tessel did not start within 20 s"
for i in $(seq 24); do
  kill -0 "$pid" 2>/dev/null || fail "tessel ended before drawing a frame"
  scene_dump >/dev/null && break
  [ "$i" = 24 ] && fail "no scene dump within two minutes"
done
echo "ok: tessel runs and draws (pid $pid)"
# Loopback traffic between two addresses (Tessel leaves out frames from an address to itself):
# 3 echo requests and 3 replies a round, until Tessel has seen a round's worth.
packets=0
for _ in $(seq 10); do
  ping -c 3 -i 0.2 -W 1 127.0.0.2 >/dev/null 2>&1 || fail "ping 127.0.0.2"
  frames=$(scene_dump | grep '^frames packets ') || true
  packets=$(echo "$frames" | awk '{ print $3 + 0 }')
  [ "${packets:-0}" -ge 6 ] && break
  kill -0 "$pid" 2>/dev/null || fail "tessel ended while capturing"
done
[ "${packets:-0}" -ge 6 ] || fail "tessel saw ${packets:-0} packets after 10 rounds of ping (${frames:-no dump})"
echo "ok: tessel saw $packets packets ($frames)"
stop
# Explicit: the script's status must not hang on whether a process was already gone.
exit 0
EOF
timeout 240 unshare --net -- /bin/sh -c 'ip link set lo up && exec chroot "$1" /usr/bin/env -i \
  PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 /bin/bash /tmp/live.sh' _ "$root" ||
  fail "live capture"
echo "package-check: all passed"
