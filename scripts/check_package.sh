#!/usr/bin/env bash
# Checks a built package without installing it: lintian must report no errors, and the
# programs unpacked to a temporary folder must run from there: each prints its help, and the
# drive program, started without -d, keeps its files in $XDG_DATA_HOME/quellan and mounts the
# files of a reference service started from the same unpacked tree. The drive program always
# dials port 8168, so the service listens on a random loopback address (127.x.y.z), never on
# 127.0.0.1 where tests use that port. Everything started here is stopped and unmounted at the
# end, also on failure.
# Usage: bash scripts/check_package.sh quellan_<version>_<arch>.deb
set -uo pipefail
deb=$(realpath "${1:?usage: check_package.sh PACKAGE.deb}")
work=$(mktemp -d /tmp/quellan-package-check.XXXXXX)
root="$work/root"
bin="$root/usr/bin"
drive_root="$work/drives"
server_pid=""
drive_pid=""

fail() {
  echo "check_package: FAILED: $*" >&2
  exit 1
}

# stop PID: SIGTERM, then SIGKILL after 10 s.
stop() {
  local pid=$1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

cleanup() {
  stop "$drive_pid"
  stop "$server_pid"
  grep -F " $drive_root/" /proc/self/mountinfo | awk '{print $5}' |
    while read -r mnt; do fusermount3 -u -z "$mnt" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# wait_for SECONDS COMMAND...: true once COMMAND succeeds within SECONDS.
wait_for() {
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}

echo "--- lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "--- unpacked programs"
dpkg-deb -x "$deb" "$root" || fail "cannot unpack $deb"
[ -f "$root/usr/share/quellan/skin/index.html" ] || fail "the page is not in the package"
for program in quellan quellanview quellan-server; do
  QT_QPA_PLATFORM=offscreen "$bin/$program" --help >"$work/help" 2>&1 ||
    fail "$program --help ended with status $?"
  grep -q "usage" "$work/help" || fail "$program --help printed no usage"
  echo "$program --help: ok"
done

if [ ! -e /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
  echo "check_package: no /dev/fuse here, the mount is not checked"
  exit 0
fi

echo "--- drive program against the reference service, both from the unpacked tree"
"$bin/quellan-server" adduser --data "$work/data" check check123 --writable 我的空间 >/dev/null ||
  fail "adduser"
mkdir -p "$work/data/check/我的空间"
echo "served by the unpacked service" >"$work/data/check/我的空间/hello.txt"
for _ in 1 2 3; do
  address="127.$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 2))"
  "$bin/quellan-server" --data "$work/data" --listen "$address" --web-port 8168 \
    --stream-port 0 >"$work/server.out" 2>&1 &
  server_pid=$!
  wait_for 10 grep -q listening "$work/server.out" && break
  stop "$server_pid"
  server_pid=""
done
[ -n "$server_pid" ] || fail "the reference service did not start: $(cat "$work/server.out")"

export XDG_DATA_HOME="$work/xdg" QUELLAN_DRIVE_ROOT="$drive_root" QUELLAN_PIPE="$work/run/Tarvex"
mkdir -p "$XDG_DATA_HOME/quellan" "$drive_root"
cat >"$XDG_DATA_HOME/quellan/tarvex.ini" <<INI
[Set]
Debug=7
DriveLetter=M
ServerAddress=$address
Run=1
[User]
UserName=check
PassWord=$(printf '%s' check123 | md5sum | cut -d' ' -f1)
INI
"$bin/quellan" >"$work/drive.out" 2>&1 &
drive_pid=$!
file="$drive_root/M/我的空间/hello.txt"
wait_for 30 grep -qs "served by the unpacked service" "$file" ||
  fail "the drive did not show $file; mirror.log: $(tail -5 "$XDG_DATA_HOME/quellan/mirror.log" 2>&1)"
[ -s "$XDG_DATA_HOME/quellan/mirror.log" ] || fail "no mirror.log in \$XDG_DATA_HOME/quellan"
echo "drive program mounted $drive_root/M from $address:8168 and read $file"
stop "$drive_pid"
drive_pid=""
grep -qF " $drive_root/M " /proc/self/mountinfo && fail "the drive stayed mounted after SIGTERM"
echo "check_package: ok"
