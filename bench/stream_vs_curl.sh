#!/usr/bin/env bash
# Compares, in one run, reading a 512 MiB file over the stream protocol (t1_read on one
# connection) with curl fetching the same file over HTTP from the same server, on loopback.
# Usage: bench/stream_vs_curl.sh [MiB, default 512] [rounds, default 5]
# Needs build/bin/quellan-server (cmake --build build --target quellan-server).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-512}
rounds=${2:-5}
server="${QUELLAN_BUILD:-$top/build}/bin/quellan-server"
[ -x "$server" ] || { echo "build quellan-server first" >&2; exit 1; }
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

g++ -O2 -std=c++20 -o "$work/stream_read_client" "$top/bench/stream_read_client.cpp"
source "$top/bench/lib/stream_session.sh"
start_bench_server "$mib"
open_read_link

best_stream=0
best_curl=0
for round in $(seq "$rounds"); do
  read -r bytes seconds < <("$work/stream_read_client" "$host" "$port" "$token1" "$token2")
  stream=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", b / s / 1048576 }')
  curl_mib=$(curl_mib)
  echo "round $round: stream t1_read ${stream} MiB/s, curl http ${curl_mib} MiB/s"
  best_stream=$(awk -v a="$best_stream" -v b="$stream" 'BEGIN { print (b > a) ? b : a }')
  best_curl=$(awk -v a="$best_curl" -v b="$curl_mib" 'BEGIN { print (b > a) ? b : a }')
done
echo "stream t1_read ${mib} MiB, one connection: ${best_stream} MiB/s (best of $rounds)"
echo "curl over HTTP ${mib} MiB: ${best_curl} MiB/s (best of $rounds)"
awk -v s="$best_stream" -v c="$best_curl" 'BEGIN { printf "ratio stream/curl: %.2f (target >= 0.90)\n", s / c }'
