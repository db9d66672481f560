#!/usr/bin/env bash
# Upload benchmark of the mounted drive against rclone, in one run on the same source file:
# `cp` of one file into a writable folder of our drive (the reference service behind it), and
# `cp` into an rclone mount of `rclone serve webdav` of a folder (--vfs-cache-mode writes, which
# rclone needs for writes, uploading at once after the close; its time ends when the served
# folder holds the whole file). First over loopback, then through the link emulator
# (quellan-relay) at RELAY_RTT_MS round trip (20) and RELAY_MBIT Mbit/s (1000): the drive
# reaches the stream server through it (the service's --stream-address), rclone reaches its
# webdav server through one with the same settings. Prints MB/s of both, the ratio, and the
# share of the link's rate.
#   bench/write/upload_vs_rclone.sh [MIB]   (needs build/ with quellan, quellan-server,
#                                           quellan-relay)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="${QUELLAN_BUILD:-$top/build}/bin"
mib=${1:-512}
rtt=${RELAY_RTT_MS:-20}
mbit=${RELAY_MBIT:-1000}
bytes=$((mib << 20))
work=$(mktemp -d /dev/shm/quellan-upload-bench-XXXXXX)
source "$top/bench/lib/mount_bench.sh"

now() { date +%s.%N; }
rate() { awk -v b="$bytes" -v s="$1" -v e="$2" 'BEGIN { printf "%.1f", b / (e - s) / 1e6 }'; }
holds_all() { test "$(stat -c %s "$1" 2>/dev/null || echo 0)" -eq "$bytes"; }

# ours_upload NAME: cp into the drive; prints MB/s once the service holds an identical copy.
ours_upload() {
  local start end
  start=$(now)
  cp "$work/source.bin" "$QUELLAN_DRIVE_ROOT/Q/我的空间/$1"
  end=$(now)
  cmp -s "$work/source.bin" "$work/data/bench/我的空间/$1" || { echo "quellan copy differs" >&2; exit 1; }
  rate "$start" "$end"
}

# rclone_upload WEBDAV_PORT NAME: mounts rclone on the webdav server at that port, copies in and
# sets $theirs to the MB/s once the served folder holds the whole file, then "(cp alone MB/s)".
# Runs in this shell, so that cleanup knows the mount's process.
rclone_upload() {
  local start closed end
  rclone mount :webdav: "$work/rclone-mount" --webdav-url "http://127.0.0.1:$1" \
    --vfs-cache-mode writes --vfs-write-back 0s --cache-dir "$work/rclone-cache" \
    >"$work/rclone.out" 2>&1 &
  local mount_pid=$!
  pids+=($mount_pid)
  wait_for 30 mountpoint -q "$work/rclone-mount" || { echo "rclone did not mount" >&2; exit 1; }
  start=$(now)
  cp "$work/source.bin" "$work/rclone-mount/$2"
  closed=$(now)
  wait_for 600 holds_all "$work/webdav/$2"
  end=$(now)
  cmp -s "$work/source.bin" "$work/webdav/$2" || { echo "rclone copy differs" >&2; exit 1; }
  fusermount3 -u "$work/rclone-mount"
  wait "$mount_pid" 2>/dev/null || true
  theirs="$(rate "$start" "$end") (cp alone $(rate "$start" "$closed"))"
}

head -c "$bytes" /dev/urandom >"$work/source.bin"
"$bin/quellan-server" adduser --data "$work/data" bench benchpw >/dev/null
mkdir -p "$work/webdav"
webdav=$(free_port)
rclone serve webdav "$work/webdav" --addr "127.0.0.1:$webdav" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$webdav"

echo "== cp of $mib MiB into the mount, loopback"
start_service --stream-port 0
start_quellan 我的空间
ours=$(ours_upload loopback.bin)
rclone_upload "$webdav" loopback.bin
stop_service_and_quellan
echo "quellan upload MB/s      $ours"
echo "rclone upload MB/s       $theirs"
echo "ratio quellan/rclone     $(ratio "$ours" "${theirs%% *}")"

echo "== cp of $mib MiB into the mount through the link emulator, $rtt ms round trip, $mbit Mbit/s"
stream=$(free_port)
start_relay "$stream" "$rtt" "$mbit"
start_service --stream-port "$stream" --stream-address "127.0.0.1:$relay_port"
start_quellan 我的空间
ours=$(ours_upload relayed.bin)
start_relay "$webdav" "$rtt" "$mbit"
rclone_upload "$relay_port" relayed.bin
link=$(awk -v m="$mbit" 'BEGIN { printf "%.1f", m * 1e6 / 8 / 1e6 }')
echo "quellan upload MB/s      $ours ($(ratio "$ours" "$link") of the link's $link MB/s)"
echo "rclone upload MB/s       $theirs"
echo "ratio quellan/rclone     $(ratio "$ours" "${theirs%% *}")"
