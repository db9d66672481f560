#!/usr/bin/env bash
# Benchmark of programs working inside files on the mounted drive against rclone, in one run on
# the same data: `git clone` of a local repository of 1,000 files, 10,000 sqlite inserts in 100
# transactions, and `dd conv=notrunc` of 1 MiB into the middle of a 100 MiB file. Each runs in a
# writable folder of our drive (the reference service behind it) and in an rclone mount of
# `rclone serve webdav` (--vfs-cache-mode writes, which rclone needs for these writes, uploading
# at once after the close). A run's time ends when the service's (or the served) folder holds
# what the same steps leave on a local disk. First over loopback, then through the link
# emulator (quellan-relay) at RELAY_RTT_MS round trip (20) and RELAY_MBIT Mbit/s (1000): the
# drive reaches both the web port and the stream server through it, rclone its webdav server.
# Prints seconds for both and the ratio rclone/quellan (above 1: the drive is faster).
#   bench/write/programs_vs_rclone.sh [BIG_MIB]
# Needs quellan, quellan-server and quellan-relay in build/bin (or $QUELLAN_BIN_DIR), git and
# sqlite3.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=${QUELLAN_BIN_DIR:-${QUELLAN_BUILD:-$top/build}/bin}
big_mib=${1:-100}
rtt=${RELAY_RTT_MS:-20}
mbit=${RELAY_MBIT:-1000}
work=$(mktemp -d /dev/shm/quellan-programs-bench-XXXXXX)
source "$top/bench/lib/mount_bench.sh"
export GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null HOME="$work"
export GIT_AUTHOR_NAME=Bench GIT_AUTHOR_EMAIL=bench@example.org GIT_AUTHOR_DATE=2026-01-02T03:04:05Z
export GIT_COMMITTER_NAME=Bench GIT_COMMITTER_EMAIL=bench@example.org
export GIT_COMMITTER_DATE=2026-01-02T03:04:05Z

now() { date +%s.%N; }
seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.2f", e - s }'; }
# The held tree has every file of the reference with the same bytes. git's index (inode numbers
# and times) and config (what the file system can do) differ by design; leftovers beside them
# do not hold the run up.
same_tree() {
  local out
  out=$(diff -rq -x index -x config "$1" "$2" 2>&1 | grep -v "^Only in $2" || true)
  [ -z "$out" ]
}

make_inputs() {
  local i
  mkdir -p "$work"/repo/dir{0..9}
  for i in $(seq 0 999); do
    printf 'file %d\n%*s\n' "$i" $((i % 500)) '' >"$work/repo/dir$((i / 100))/file$i.txt"
  done
  git -C "$work/repo" -c init.defaultBranch=main init -q
  git -C "$work/repo" add .
  git -C "$work/repo" commit -q -m 'all files'
  awk 'BEGIN {
    print "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, payload TEXT);"
    payload = sprintf("%100s", ""); gsub(/ /, "x", payload)
    for (i = 0; i < 100; i++) {
      print "BEGIN;"
      for (j = 0; j < 100; j++) printf "INSERT INTO t(name, payload) VALUES(\047row %d\047, \047%s\047);\n", i * 100 + j, payload
      print "COMMIT;"
    }
  }' >"$work/rows.sql"
  head -c $((big_mib << 20)) /dev/urandom >"$work/big.bin"
  head -c $((1 << 20)) /dev/urandom >"$work/patch.bin"
}

# The three workloads, each in folder $1 under the name suffix $2.
clone_into() { git clone -q "$work/repo" "$1/clone-$2"; }
sqlite_into() { sqlite3 "$1/rows-$2.db" <"$work/rows.sql"; }
dd_into() {
  dd if="$work/patch.bin" of="$1/big-$2.bin" bs=1M seek=$((big_mib / 2)) conv=notrunc status=none
}

# What the workloads leave on a local disk, to compare with.
make_reference() {
  mkdir -p "$work/ref"
  cp "$work/big.bin" "$work/ref/big-ref.bin"
  clone_into "$work/ref" ref
  sqlite_into "$work/ref" ref
  dd_into "$work/ref" ref
}

# timed WORKLOAD MOUNTED_FOLDER HELD_FOLDER SUFFIX: runs the workload in the mounted folder and
# prints the seconds until the held folder (the service's or the served one) holds its result.
# Prints "failed" when the program fails, "differs" when the result never matches.
timed() {
  local start end
  start=$(now)
  "$1_into" "$2" "$4" 2>>"$work/programs.err" || { echo failed; return 0; }
  case $1 in
    clone) wait_for 300 same_tree "$work/ref/clone-ref" "$3/clone-$4" ;;
    sqlite) wait_for 300 cmp -s "$work/ref/rows-ref.db" "$3/rows-$4.db" ;;
    dd) wait_for 300 cmp -s "$work/ref/big-ref.bin" "$3/big-$4.bin" ;;
  esac || { echo differs; return 0; }
  end=$(now)
  seconds "$start" "$end"
}

mount_rclone() {  # mount_rclone WEBDAV_PORT: sets $rclone_pid
  rclone mount :webdav: "$work/rclone-mount" --webdav-url "http://127.0.0.1:$1" \
    --vfs-cache-mode writes --vfs-write-back 0s --cache-dir "$work/rclone-cache" \
    >>"$work/rclone.out" 2>&1 &
  rclone_pid=$!
  pids+=($rclone_pid)
  wait_for 30 mountpoint -q "$work/rclone-mount" || { echo "rclone did not mount" >&2; exit 1; }
}

unmount_rclone() {
  fusermount3 -u "$work/rclone-mount"
  wait "$rclone_pid" 2>/dev/null || true
}

# run_all SUFFIX WEBDAV_PORT: every workload on the mounted drive, then on rclone; prints a row
# per workload.
run_all() {
  local w drive="$QUELLAN_DRIVE_ROOT/Q/我的空间" held="$work/data/bench/我的空间"
  declare -A mine theirs
  for w in clone sqlite dd; do
    mine[$w]=$(timed "$w" "$drive" "$held" "$1")
    echo "quellan $w: ${mine[$w]}"
  done
  mount_rclone "$2"
  for w in clone sqlite dd; do
    theirs[$w]=$(timed "$w" "$work/rclone-mount" "$work/webdav" "$1")
    echo "rclone $w: ${theirs[$w]}"
  done
  unmount_rclone
  for w in clone sqlite dd; do
    printf '%-8s quellan %7s s   rclone %7s s   rclone/quellan %s\n' "$w" "${mine[$w]}" \
      "${theirs[$w]}" "$(ratio "${theirs[$w]}" "${mine[$w]}")"
  done
  # The first lines of what failing programs said.
  [ -s "$work/programs.err" ] && head -n 4 "$work/programs.err" | sed 's/^/  /' && : >"$work/programs.err"
  return 0
}

make_inputs
make_reference
"$bin/quellan-server" adduser --data "$work/data" bench benchpw >/dev/null
mkdir -p "$work/webdav"
for suffix in loopback relayed; do
  cp "$work/big.bin" "$work/data/bench/我的空间/big-$suffix.bin"
  cp "$work/big.bin" "$work/webdav/big-$suffix.bin"
done
webdav=$(free_port)
rclone serve webdav "$work/webdav" --addr "127.0.0.1:$webdav" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$webdav"

echo "== git clone of 1,000 files, 10,000 sqlite inserts in 100 transactions, dd of 1 MiB into $big_mib MiB; loopback"
start_service --stream-port 0
start_quellan 我的空间
run_all loopback "$webdav"
stop_service_and_quellan

echo "== the same through the link emulator, $rtt ms round trip, $mbit Mbit/s"
web=$(free_port)
stream=$(free_port)
start_relay "$web" "$rtt" "$mbit"
web_relay=$relay_port
start_relay "$stream" "$rtt" "$mbit"
QUELLAN_WEB_PORT=$web start_service --stream-port "$stream" --stream-address "127.0.0.1:$relay_port"
export QUELLAN_WEB_PORT=$web_relay
start_quellan 我的空间
start_relay "$webdav" "$rtt" "$mbit"
run_all relayed "$relay_port"
