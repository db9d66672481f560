#!/usr/bin/env bash
# The mounted drive against rclone over an emulated network, in one run on the same files.
# For every link (round trip and rate) each side gets its own link emulator with the same
# settings: the reference service (web port and stream address) behind quellan-relay with the
# drive program `quellan` mounting it, and `rclone serve http` behind another quellan-relay
# with `rclone mount --read-only --vfs-cache-mode off` on it.
# Figures per link: sequential read of the big file, time from open to the first 4 KiB (first
# and repeated open, median), random 64 KiB reads per second, and a video-like pattern (runs of
# 4 MiB, each after a seek), each with its ratio to rclone.
#   bench/read/relay_vs_rclone.sh [BIG_MIB] [SAMPLES]
#   LINKS="RTT_MS:MBIT ..." (default "0:1000 5:1000 20:1000 50:1000 20:100"),
#   RANDOM_READS (default 100), VIDEO_RUNS (default 8)
# Needs build/ with quellan, quellan-server and quellan-relay. Every port is a free one: the
# drive program is pointed at its web relay with QUELLAN_WEB_PORT.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="${QUELLAN_BUILD:-$top/build}/bin"
measure="$top/bench/read/read_measure.py"
big_mib=${1:-512}
samples=${2:-20}
random_reads=${RANDOM_READS:-100}
video_runs=${VIDEO_RUNS:-8}
links=${LINKS:-"0:1000 5:1000 20:1000 50:1000 20:100"}
work=$(mktemp -d /dev/shm/quellan-relay-bench-XXXXXX)
source "$top/bench/lib/mount_bench.sh"

# start_relay LISTEN_PORT TARGET_PORT DELAY_MS MBIT
start_relay() {
  local out="$work/relay.$1"
  "$bin/quellan-relay" --listen "$1" --target "127.0.0.1:$2" --delay-ms "$3" --mbit "$4" \
    >"$out" 2>&1 &
  link_pids+=($!)
  pids+=($!)
  wait_for 10 grep -q listening "$out"
}

echo "== files: one of $big_mib MiB, $samples of 1 MiB"
"$bin/quellan-server" adduser --data "$work/data" bench benchpw >/dev/null
files="$work/data/bench/我的空间/read bench"
mkdir -p "$files"
head -c $((big_mib << 20)) /dev/urandom >"$files/big.bin"
for i in $(seq 1 "$samples"); do head -c $((1 << 20)) /dev/urandom >"$files/small $i.bin"; done
write_quellan_settings
ours="$QUELLAN_DRIVE_ROOT/Q/我的空间/read bench"
theirs="$work/rclone-mount/我的空间/read bench"

smalls() { for i in $(seq 1 "$samples"); do printf '%s\n' "$1/small $i.bin"; done; }
repeated() { for i in $(seq 1 "$samples"); do printf '%s\n' "$1/small 1.bin"; done; }
declare -A figure
run_side() {  # run_side NAME FOLDER
  local name=$1 folder=$2
  ls -l "$folder" >/dev/null  # names and sizes known: only the opens are timed
  mapfile -t list < <(smalls "$folder")
  figure[$name.first]=$(python3 "$measure" ttfb "${list[@]}" | cut -d' ' -f1)
  mapfile -t list < <(repeated "$folder")
  figure[$name.again]=$(python3 "$measure" ttfb "${list[@]}" | cut -d' ' -f1)
  figure[$name.random]=$(python3 "$measure" random "$folder/big.bin" "$random_reads" 7)
  figure[$name.video]=$(python3 "$measure" video "$folder/big.bin" "$video_runs" 11)
  figure[$name.seq]=$(python3 "$measure" seq "$folder/big.bin")
}

run_link() {  # run_link RTT_MS MBIT: prints one table row
  local rtt=$1 mbit=$2 delay=$(($1 / 2))
  local web stream stream_relay http http_relay
  web=$(free_port) stream=$(free_port) stream_relay=$(free_port)
  http=$(free_port) http_relay=$(free_port)
  link_pids=()
  export QUELLAN_WEB_PORT
  QUELLAN_WEB_PORT=$(free_port)
  start_relay "$QUELLAN_WEB_PORT" "$web" "$delay" "$mbit"
  start_relay "$stream_relay" "$stream" "$delay" "$mbit"
  start_relay "$http_relay" "$http" "$delay" "$mbit"
  "$bin/quellan-server" --data "$work/data" --web-port "$web" --stream-port "$stream" \
    --stream-address "127.0.0.1:$stream_relay" >/dev/null 2>>"$work/server.log" &
  link_pids+=($!)
  pids+=($!)
  "$(command -v rclone)" serve http "$work/data/bench" --addr "127.0.0.1:$http" >/dev/null 2>&1 &
  link_pids+=($!)
  pids+=($!)
  wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$web"
  wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$http"
  rm -rf "$work/program/cache"  # every link starts without cached heads
  "$bin/quellan" -d "$work/program" >>"$work/quellan.out" 2>&1 &
  link_pids+=($!)
  pids+=($!)
  wait_for 60 test -f "$ours/big.bin" || { echo "quellan did not mount"; tail "$work/quellan.out"; exit 1; }
  rclone mount --http-url "http://127.0.0.1:$http_relay" :http: "$work/rclone-mount" --read-only \
    --vfs-cache-mode off >>"$work/rclone.out" 2>&1 &
  link_pids+=($!)
  pids+=($!)
  wait_for 30 test -f "$theirs/big.bin" || { echo "rclone did not mount"; exit 1; }
  run_side quellan "$ours"
  run_side rclone "$theirs"
  unmount_all -u
  for p in "${link_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${link_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  local label="$rtt ms, $mbit Mbit/s" q r
  printf '| %s |' "$label"
  for kind in seq first again random video; do
    q=${figure[quellan.$kind]} r=${figure[rclone.$kind]}
    printf ' %s / %s (%s) |' "$q" "$r" "$(ratio "$q" "$r")"
  done
  echo
}

echo "== quellan / rclone (ratio); seq and video in MB/s, opens in ms (median of $samples),"
echo "   random in 64 KiB reads/s ($random_reads reads), video: $video_runs runs of 4 MiB"
echo "| link | sequential $big_mib MiB | first open to 4 KiB | repeated open to 4 KiB | random 64 KiB | video-like |"
echo "|---|---|---|---|---|---|"
for setting in $links; do run_link "${setting%%:*}" "${setting##*:}"; done
