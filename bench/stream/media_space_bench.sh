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
server="$top/build/bin/quellan-server"
client="$top/build/bin/media_space_bench"
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

"$server" adduser --data "$work/data" bench pw >/dev/null
head -c "$((mib * 1048576))" /dev/urandom >"$work/data/bench/下载空间/big.bin"
cat "$work/data/bench/下载空间/big.bin" >/dev/null  # both readers start from the page cache

"$server" --data "$work/data" --web-port 0 --stream-port 0 >"$work/ports" 2>"$work/server.log" &
pid=$!
for _ in $(seq 100); do grep -q stream= "$work/ports" 2>/dev/null && break; sleep 0.1; done
web=$(sed -n 's/.*web=[^:]*:\([0-9]*\).*/\1/p' "$work/ports")
md5() { printf '%s' "$1" | md5sum | cut -d' ' -f1; }
get() { curl -s "http://127.0.0.1:$web$1"; echo; }

# Web session, file id and read link, as the storage client gets them.
IFS=, read -r _ sid key < <(get "/quellan?action=firstkey&t=1")
user=$(printf bench | base64)
pass=$(md5 "$(md5 pw)$key")
IFS=, read -r _ sid key < <(get "/quellan?action=login&username=$user&password=$pass&sessionid=$sid&hash=$(md5 "login$user$pass$sid$key")&t=1")
body=$(get "/quellan?action=list3&sessionid=$sid&hash=$(md5 "list3$sid$key")&t=1" | cut -d, -f5)
id=$(printf '%s' "$body" | base64 -d | grep ',big.bin,' | cut -d, -f1)
IFS=, read -r _ host port token2 token1 < <(get "/quellan?action=readdist&id=$id&sessionid=$sid&hash=$(md5 "readdist$id$sid$key")&t=1")
page=$(get "/page/login?username=bench&password=$(md5 pw)" | cut -d, -f2)

best_reader=0
best_curl=0
pool=0
for round in $(seq "$rounds"); do
  read -r bytes seconds pool buffers < <("$client" "$host" "$port" "$token1" "$token2")
  reader=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", b / s / 1048576 }')
  stamp=$(date +%s)
  curl_bps=$(curl -s -o /dev/null -w '%{speed_download}' \
    "http://127.0.0.1:$web/download?id=$id&timestamp=$stamp&hash=$(md5 "$stamp$page")")
  curl_mib=$(awk -v b="$curl_bps" 'BEGIN { printf "%.1f", b / 1048576 }')
  echo "round $round: CMediaSpace 64 KiB reads ${reader} MiB/s, curl http ${curl_mib} MiB/s"
  best_reader=$(awk -v a="$best_reader" -v b="$reader" 'BEGIN { print (b > a) ? b : a }')
  best_curl=$(awk -v a="$best_curl" -v b="$curl_mib" 'BEGIN { print (b > a) ? b : a }')
done
echo "CMediaSpace sequential ${mib} MiB in 64 KiB reads: ${best_reader} MiB/s (best of $rounds)"
echo "curl over HTTP ${mib} MiB: ${best_curl} MiB/s (best of $rounds)"
awk -v s="$best_reader" -v c="$best_curl" 'BEGIN { printf "ratio reader/curl: %.2f (target >= 0.80)\n", s / c }'
echo "pool memory held for the file: $pool bytes in $buffers buffers"
