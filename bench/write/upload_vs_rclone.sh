#!/usr/bin/env bash
# Upload benchmark of the mounted drive against rclone, in one run on the same source file:
# `cp` of one file into a writable folder of our drive (the reference service behind it), and
# `cp` into an rclone mount of `rclone serve webdav` of a folder (--vfs-cache-mode writes, which
# rclone needs for writes, uploading at once after the close; its time ends when the served
# folder holds the whole file). Prints MB/s of both and the ratio.
#   bench/write/upload_vs_rclone.sh [MIB]   (needs build/ with quellan, quellan-server)
# Uses the fixed web port 8168; run it while no other drive program or service uses it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="$top/build/bin"
mib=${1:-512}
bytes=$((mib << 20))
work=$(mktemp -d /dev/shm/quellan-upload-bench-XXXXXX)
source "$top/bench/lib/mount_bench.sh"

now() { date +%s.%N; }
rate() { awk -v b="$bytes" -v s="$1" -v e="$2" 'BEGIN { printf "%.1f", b / (e - s) / 1e6 }'; }
holds_all() { test "$(stat -c %s "$1" 2>/dev/null || echo 0)" -eq "$bytes"; }

head -c "$bytes" /dev/urandom >"$work/source.bin"
"$bin/quellan-server" adduser --data "$work/data" bench benchpw >/dev/null
"$bin/quellan-server" --data "$work/data" --web-port 8168 --stream-port 0 2>"$work/server.log" &
pids+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/8168"
cat >"$work/program/tarvex.ini" <<INI
[Set]
Debug=1
DriveLetter=Q
ServerAddress=127.0.0.1
Run=1

[User]
UserName=bench
PassWord=$(printf '%s' benchpw | md5sum | cut -d' ' -f1)
INI
"$bin/quellan" -d "$work/program" >"$work/quellan.out" 2>&1 &
pids+=($!)
ours="$QUELLAN_DRIVE_ROOT/Q/我的空间"
wait_for 60 test -d "$ours" || { echo "quellan did not mount"; tail "$work/quellan.out"; exit 1; }

mkdir -p "$work/webdav"
rclone serve webdav "$work/webdav" --addr 127.0.0.1:18169 >/dev/null 2>&1 &
pids+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/18169"
rclone mount :webdav: "$work/rclone-mount" --webdav-url http://127.0.0.1:18169 \
  --vfs-cache-mode writes --vfs-write-back 0s --cache-dir "$work/rclone-cache" >"$work/rclone.out" 2>&1 &
pids+=($!)
wait_for 30 mountpoint -q "$work/rclone-mount" || { echo "rclone did not mount"; exit 1; }

echo "== cp of $mib MiB into the mount"
start=$(now)
cp "$work/source.bin" "$ours/upload.bin"
end=$(now)
cmp -s "$work/source.bin" "$work/data/bench/我的空间/upload.bin" || { echo "quellan copy differs"; exit 1; }
ours_rate=$(rate "$start" "$end")

start=$(now)
cp "$work/source.bin" "$work/rclone-mount/upload.bin"
closed=$(now)
wait_for 600 holds_all "$work/webdav/upload.bin"
end=$(now)
cmp -s "$work/source.bin" "$work/webdav/upload.bin" || { echo "rclone copy differs"; exit 1; }
theirs_rate=$(rate "$start" "$end")

echo "quellan upload MB/s      $ours_rate"
echo "rclone upload MB/s       $theirs_rate (cp alone $(rate "$start" "$closed"))"
echo "ratio quellan/rclone     $(awk -v a="$ours_rate" -v b="$theirs_rate" 'BEGIN { printf "%.2f", a / b }')"
