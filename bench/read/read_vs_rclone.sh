#!/usr/bin/env bash
# Read benchmark of the mounted drive against rclone, in one run on the same files:
# the reference service with the drive program `quellan` mounting it, and `rclone serve http`
# with `rclone mount --read-only --vfs-cache-mode off`; curl of the same file from the
# reference service's download address and from rclone's server, over loopback.
# Figures: sequential read of a 512 MiB file, time from open to the first 4 KiB (first open
# of a file and repeated open: median and 90th percentile), random 64 KiB reads per second.
# Each line ends with the ratio to rclone.
#   bench/read/read_vs_rclone.sh [BIG_MIB] [SAMPLES]   (needs build/ with quellan, quellan-server)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="${QUELLAN_BUILD:-$top/build}/bin"
measure="$top/bench/read/read_measure.py"
big_mib=${1:-512}
samples=${2:-30}
random_reads=${RANDOM_READS:-400}
work=$(mktemp -d /dev/shm/quellan-read-bench-XXXXXX)
source "$top/bench/lib/mount_bench.sh"


echo "== files: one of $big_mib MiB, $samples of 1 MiB"
"$bin/quellan-server" adduser --data "$work/data" bench benchpw >/dev/null
files="$work/data/bench/我的空间/read bench"
mkdir -p "$files"
head -c $((big_mib << 20)) /dev/urandom >"$files/big.bin"
for i in $(seq 1 "$samples"); do head -c $((1 << 20)) /dev/urandom >"$files/small $i.bin"; done

start_service --stream-port 0
start_quellan "我的空间/read bench/big.bin"
ours="$QUELLAN_DRIVE_ROOT/Q/我的空间/read bench"

rclone_port=$(free_port)
"$(command -v rclone)" serve http "$work/data/bench" --addr "127.0.0.1:$rclone_port" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$rclone_port"
rclone mount --http-url "http://127.0.0.1:$rclone_port" :http: "$work/rclone-mount" --read-only \
  --vfs-cache-mode off >"$work/rclone.out" 2>&1 &
pids+=($!)
theirs="$work/rclone-mount/我的空间/read bench"
wait_for 30 test -f "$theirs/big.bin" || { echo "rclone did not mount"; exit 1; }

smalls() { for i in $(seq 1 "$samples"); do printf '%s\n' "$1/small $i.bin"; done; }
repeated() { for i in $(seq 1 "$samples"); do printf '%s\n' "$1/small 1.bin"; done; }
declare -A figure
run_side() {  # run_side NAME FOLDER
  local name=$1 folder=$2
  ls -l "$folder" >/dev/null  # names and sizes known: only the opens are timed
  mapfile -t list < <(smalls "$folder")
  figure[$name.first]=$(python3 "$measure" ttfb "${list[@]}")
  mapfile -t list < <(repeated "$folder")
  figure[$name.again]=$(python3 "$measure" ttfb "${list[@]}")
  figure[$name.random]=$(python3 "$measure" random "$folder/big.bin" "$random_reads" 7)
  figure[$name.seq]=$(python3 "$measure" seq "$folder/big.bin")
}
run_side quellan "$ours"
run_side rclone "$theirs"

# curl of the same file from the reference service's own download address, the rate the
# drive's reads are held to over loopback.
source "$top/bench/lib/stream_session.sh"
web=$QUELLAN_WEB_PORT
bench_password=benchpw
open_read_link
service_seq=$(curl_rate 1000000)

url="http://127.0.0.1:$rclone_port/$(python3 -c 'import urllib.parse,sys; print(urllib.parse.quote(sys.argv[1]))' "我的空间/read bench")"
curl_seq=$(curl -s -o /dev/null -w '%{speed_download}' "$url/big.bin" | awk '{ printf "%.1f", $1 / 1e6 }')
curl_first=$(for i in $(seq 1 "$samples"); do
  curl -s -o /dev/null -r 0-4095 -w '%{time_total}\n' "$url/small%20$i.bin"; done |
  python3 -c 'import sys
t = sorted(float(x) * 1000 for x in sys.stdin.read().split())
print(f"{t[len(t) // 2]:.3f} {t[min(len(t) - 1, int(len(t) * 0.9))]:.3f}")')

line() {  # line TEXT OURS RCLONE UNIT TARGET
  printf '%-44s quellan %10s  rclone %10s %-6s ratio %5s  %s\n' "$1" "$2" "$3" "$4" "$(ratio "$2" "$3")" "$5"
}
echo "== results (ratio = quellan / rclone)"
line "sequential read, $big_mib MiB file" "${figure[quellan.seq]}" "${figure[rclone.seq]}" MB/s "(target >= 1.0)"
for kind in first again; do
  label="first open"; [[ $kind == again ]] && label="repeated open"
  read -r om op <<<"${figure[quellan.$kind]}"
  read -r rm rp <<<"${figure[rclone.$kind]}"
  target=""; [[ $kind == again ]] && target="(target <= 0.5)"
  line "open to first 4 KiB, $label, median" "$om" "$rm" ms "$target"
  line "open to first 4 KiB, $label, 90th pct" "$op" "$rp" ms "$target"
done
line "random 64 KiB reads" "${figure[quellan.random]}" "${figure[rclone.random]}" reads/s "(target >= 1.0)"
read -r cm cp <<<"$curl_first"
printf '%-44s curl %s MB/s from the reference service, quellan / curl %s (target >= 0.85)\n' \
  "sequential read over http, $big_mib MiB file" "$service_seq" "$(ratio "${figure[quellan.seq]}" "$service_seq")"
printf '%-44s curl %s MB/s from rclone serve http\n' "" "$curl_seq"
printf '%-44s curl median %s ms, 90th pct %s ms\n' "first 4 KiB over http (range request)" "$cm" "$cp"
