#!/usr/bin/env bash
# Sequential read of one file through the drive's stream reader (CMediaSpace, 64 KiB reads,
# three fetch threads) from the reference stream server, against curl fetching the same file
# over HTTP from the same server, in one run on loopback. Prints both throughputs, their
# ratio and the memory the reader's pool holds for the file.
# Usage: bench/stream/media_space_bench.sh [MiB, default 512] [rounds, default 3]
# Needs build/bin/quellan-server and build/bin/media_space_bench (scripts/build.sh release).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
mib=${1:-512}
rounds=${2:-3}
server="${QUELLAN_BUILD:-$top/build}/bin/quellan-server"
client=${READER_BENCH:-"${QUELLAN_BUILD:-$top/build}/bin/media_space_bench"}  # another build of it to compare
for program in "$server" "$client"; do
  [ -x "$program" ] || { echo "build $(basename "$program") first" >&2; exit 1; }
done
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

source "$top/bench/lib/stream_session.sh"
start_bench_server "$mib"
open_read_link

best_reader=0
best_curl=0
pool=0
for round in $(seq "$rounds"); do
  read -r bytes seconds pool buffers < <("$client" "$host" "$port" "$token1" "$token2")
  reader=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", b / s / 1048576 }')
  curl_mib=$(curl_mib)
  echo "round $round: CMediaSpace 64 KiB reads ${reader} MiB/s, curl http ${curl_mib} MiB/s"
  best_reader=$(awk -v a="$best_reader" -v b="$reader" 'BEGIN { print (b > a) ? b : a }')
  best_curl=$(awk -v a="$best_curl" -v b="$curl_mib" 'BEGIN { print (b > a) ? b : a }')
done
echo "CMediaSpace sequential ${mib} MiB in 64 KiB reads: ${best_reader} MiB/s (best of $rounds)"
echo "curl over HTTP ${mib} MiB: ${best_curl} MiB/s (best of $rounds)"
awk -v s="$best_reader" -v c="$best_curl" 'BEGIN { printf "ratio reader/curl: %.2f (target >= 0.80)\n", s / c }'
echo "pool memory held for the file: $pool bytes in $buffers buffers"
