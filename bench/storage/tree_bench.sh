#!/usr/bin/env bash
# Tree benchmark of the storage client: reading and indexing a folder list of ENTRIES
# entries (default 100000 and 1000000, folders 10 deep), then `find` over the mounted drive,
# compared in the same run with `find` over the same tree mounted by rclone from
# `rclone serve http`. Ends with one table row per size.
#   bench/storage/tree_bench.sh [ENTRIES...]    (needs build/ with quellan and quellan-server)
# TREE_BENCH_RCLONE=0 leaves rclone out (its find over a million entries takes minutes);
# TREE_BENCH_WARM=0 times the login against a service that has never listed the tree;
# TREE_BENCH_CHANGE=1 changes one file after the warming login, so that the service reads the
# disk again for the timed one instead of reusing what it read.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="${QUELLAN_BUILD:-$top/build}/bin"
sizes=("$@")
[ $# -eq 0 ] && sizes=(100000 1000000)
results=$(mktemp)
trap 'rm -f "$results"' EXIT

row() { echo "$1" >>"$results"; }

run_size() (
entries=$1
work=$(mktemp -d /dev/shm/quellan-tree-bench-XXXXXX)
source "$top/bench/lib/mount_bench.sh"
q_mount=- q_first=- q_again=- q_third=- q_peak=- q_steady=- q_refresh=- q_refresh_peak=-
r_first=- r_again=- r_peak=-
export QUELLAN_PIPE="$work/pipe"

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

echo "== in-process tree read (storage_tree_bench)"
"$bin/storage_tree_bench" "$entries" 10 5

echo "== building the tree on disk"
"$bin/quellan-server" adduser --data "$work/data" bench benchpw >/dev/null
python3 "$top/bench/storage/make_tree.py" "$work/data/bench/tree" "$entries" 10
start_service --stream-port 0

if [ "${TREE_BENCH_WARM:-1}" = 1 ]; then
  # The service gives each entry its id (and saves them) the first time it lists a tree; as
  # for an account in use, that is done once before the timed login.
  echo "== warming the service: one login and tree read"
  launch_quellan
  warm=$quellan_pid
  wait_for 300 test -d "$QUELLAN_DRIVE_ROOT/Q/tree" || true
  kill "$warm" && wait "$warm" || true
  wait_for 30 bash -c "! mountpoint -q '$QUELLAN_DRIVE_ROOT/Q'" || fusermount3 -u "$QUELLAN_DRIVE_ROOT/Q"
fi
if [ "${TREE_BENCH_CHANGE:-0}" = 1 ]; then
  echo "== changing one file on disk"
  find "$work/data/bench/tree" -type f -print -quit | xargs -d '\n' sh -c 'echo x >>"$0"'
fi

echo "== quellan: login, tree read and mount"
start=$(seconds)
QUELLAN_DEBUG=3 launch_quellan
quellan=$quellan_pid
if wait_for 120 test -d "$QUELLAN_DRIVE_ROOT/Q/tree"; then
  mounted=$(seconds)
  q_mount=$(elapsed "$start" "$mounted")
  echo "quellan: start to mounted tree $q_mount s"
  start=$(seconds); count=$(find "$QUELLAN_DRIVE_ROOT/Q/tree" | wc -l); end=$(seconds)
  q_first=$(elapsed "$start" "$end")
  echo "quellan: find over the drive: $count entries in $q_first s (first)"
  start=$(seconds); find "$QUELLAN_DRIVE_ROOT/Q/tree" >/dev/null; end=$(seconds)
  q_again=$(elapsed "$start" "$end")
  echo "quellan: find over the drive: $q_again s (again)"
  # The second find still asks for each folder's attributes once (the kernel counts a listing
  # read from the drive as an access); the third asks nothing: the kernel's own floor.
  start=$(seconds); find "$QUELLAN_DRIVE_ROOT/Q/tree" >/dev/null; end=$(seconds)
  q_third=$(elapsed "$start" "$end")
  echo "quellan: find over the drive: $q_third s (a third time)"
  q_peak=$(awk '/VmHWM/ { printf "%d", $2 / 1024 }' /proc/$quellan/status)
  echo "quellan: peak memory $q_peak MiB"
  # A tree refresh (control pipe command 22) builds the new tables beside the old ones: the
  # peak is read again once the new ".filelist" is in place.
  q_steady=$(awk '/VmRSS/ { printf "%d", $2 / 1024 }' /proc/$quellan/status)
  echo "quellan: memory in use before the refresh $q_steady MiB"
  before=$(stat -c %Y.%y "$work/program/.filelist")
  start=$(seconds)
  python3 -c "import socket, struct, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])
s.sendall(struct.pack('<iiB', 0, 22, 0).ljust(1024, b'\\0')); s.close()" "$QUELLAN_PIPE"
  if wait_for 300 bash -c '[ "$(stat -c %Y.%y "$1")" != "$2" ]' _ "$work/program/.filelist" "$before"; then
    q_refresh=$(elapsed "$start" "$(seconds)")
    q_refresh_peak=$(awk '/VmHWM/ { printf "%d", $2 / 1024 }' /proc/$quellan/status)
    echo "quellan: refresh in $q_refresh s, peak memory $q_refresh_peak MiB"
    # The previous tables are freed once the kernel is told of the changes: given up to 10 s to
    # come back near the memory before the refresh.
    wait_for 10 bash -c '[ "$(awk "/VmRSS/ { print int(\$2 / 1024) }" "/proc/$1/status")" -le "$2" ]' \
      _ "$quellan" $((q_steady + 16)) || true
    echo "quellan: memory in use after the refresh $(awk '/VmRSS/ { printf "%d", $2 / 1024 }' /proc/$quellan/status) MiB"
  fi
else
  echo "quellan: the drive did not mount (see $work/quellan.out)"; tail -5 "$work/quellan.out"
fi

if [ "${TREE_BENCH_RCLONE:-1}" = 0 ]; then
  row "| $entries | $q_mount | $q_first / $q_again / $q_third | $q_peak | $q_steady → $q_refresh_peak | - | - |"
  exit 0
fi
echo "== rclone serve http + rclone mount of the same tree"
rclone_port=$(free_port)
"$(command -v rclone)" serve http "$work/data/bench" --addr "127.0.0.1:$rclone_port" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$rclone_port"
start=$(seconds)
rclone lsf -R --http-url "http://127.0.0.1:$rclone_port" :http:tree >/dev/null 2>&1
end=$(seconds)
echo "rclone: recursive listing over http (rclone lsf -R): $(elapsed "$start" "$end") s"
rclone mount --http-url "http://127.0.0.1:$rclone_port" :http: "$work/rclone-mount" --read-only \
  --dir-cache-time 1h >/dev/null 2>&1 &
rclone_mount=$!
pids+=($rclone_mount)
wait_for 20 test -d "$work/rclone-mount/tree"
start=$(seconds); count=$(find "$work/rclone-mount/tree" | wc -l); end=$(seconds)
r_first=$(elapsed "$start" "$end")
echo "rclone: find over the mount: $count entries in $r_first s (first)"
start=$(seconds); find "$work/rclone-mount/tree" >/dev/null; end=$(seconds)
r_again=$(elapsed "$start" "$end")
echo "rclone: find over the mount: $r_again s (again)"
r_peak=$(awk '/VmHWM/ { printf "%d", $2 / 1024 }' /proc/$rclone_mount/status)
echo "rclone: peak memory $r_peak MiB"
row "| $entries | $q_mount | $q_first / $q_again / $q_third | $q_peak | $q_steady → $q_refresh_peak | $r_first / $r_again | $r_peak |"
)

for size in "${sizes[@]}"; do
  echo "######## $size entries"
  run_size "$size"
done
echo
echo "| entries | quellan start to mounted tree (s) | quellan find first / again / third (s) | quellan peak (MiB) | quellan before → peak of a refresh (MiB) | rclone find first / again (s) | rclone peak (MiB) |"
echo "|---|---|---|---|---|---|---|"
cat "$results"
