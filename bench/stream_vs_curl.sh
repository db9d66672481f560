#!/usr/bin/env bash
# Compares, in one run, reading a 512 MiB file over the stream protocol (t1_read on one
# connection) with curl fetching the same file over HTTP from the same server, on loopback.
# Usage: bench/stream_vs_curl.sh [MiB, default 512] [rounds, default 5]
# Needs build/bin/quellan-server (cmake --build build --target quellan-server).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-512}
rounds=${2:-5}
server="$top/build/bin/quellan-server"
[ -x "$server" ] || { echo "build quellan-server first" >&2; exit 1; }
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

g++ -O2 -std=c++20 -o "$work/stream_read_client" "$top/bench/stream_read_client.cpp"
"$server" adduser --data "$work/data" bench pw >/dev/null
head -c "$((mib * 1048576))" /dev/urandom >"$work/data/bench/下载空间/big.bin"
cat "$work/data/bench/下载空间/big.bin" >/dev/null  # both readers start from the page cache

"$server" --data "$work/data" --web-port 0 --stream-port 0 >"$work/ports" 2>"$work/server.log" &
pid=$!
for _ in $(seq 100); do grep -q stream= "$work/ports" 2>/dev/null && break; sleep 0.1; done
web=$(sed -n 's/.*web=[^:]*:\([0-9]*\).*/\1/p' "$work/ports")
md5() { printf '%s' "$1" | md5sum | cut -d' ' -f1; }
get() { curl -s "http://127.0.0.1:$web$1"; echo; }  # replies end without a newline

# Web session, file id and read tokens.
IFS=, read -r _ sid key < <(get "/quellan?action=firstkey&t=1")
user=$(printf bench | base64)
pass=$(md5 "$(md5 pw)$key")
IFS=, read -r _ sid key < <(get "/quellan?action=login&username=$user&password=$pass&sessionid=$sid&hash=$(md5 "login$user$pass$sid$key")&t=1")
body=$(get "/quellan?action=list3&sessionid=$sid&hash=$(md5 "list3$sid$key")&t=1" | cut -d, -f5)
id=$(printf '%s' "$body" | base64 -d | grep ',big.bin,' | cut -d, -f1)
IFS=, read -r _ host port token2 token1 < <(get "/quellan?action=readdist&id=$id&sessionid=$sid&hash=$(md5 "readdist$id$sid$key")&t=1")
page=$(get "/page/login?username=bench&password=$(md5 pw)" | cut -d, -f2)

best_stream=0
best_curl=0
for round in $(seq "$rounds"); do
  read -r bytes seconds < <("$work/stream_read_client" "$host" "$port" "$token1" "$token2")
  stream=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", b / s / 1048576 }')
  stamp=$(date +%s)
  curl_bps=$(curl -s -o /dev/null -w '%{speed_download}' \
    "http://127.0.0.1:$web/download?id=$id&timestamp=$stamp&hash=$(md5 "$stamp$page")")
  curl_mib=$(awk -v b="$curl_bps" 'BEGIN { printf "%.1f", b / 1048576 }')
  echo "round $round: stream t1_read ${stream} MiB/s, curl http ${curl_mib} MiB/s"
  best_stream=$(awk -v a="$best_stream" -v b="$stream" 'BEGIN { print (b > a) ? b : a }')
  best_curl=$(awk -v a="$best_curl" -v b="$curl_mib" 'BEGIN { print (b > a) ? b : a }')
done
echo "stream t1_read ${mib} MiB, one connection: ${best_stream} MiB/s (best of $rounds)"
echo "curl over HTTP ${mib} MiB: ${best_curl} MiB/s (best of $rounds)"
awk -v s="$best_stream" -v c="$best_curl" 'BEGIN { printf "ratio stream/curl: %.2f (target >= 0.90)\n", s / c }'
