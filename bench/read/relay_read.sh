#!/usr/bin/env bash
# Sequential read through the stream reader over the link emulator: the reference service
# behind quellan-relay at several round trips and rates, against curl through a relay with the
# same settings. Prints one line per link: MB/s of the reader and of curl.
# Usage: bench/read/relay_read.sh [MiB, default 64]
# Needs build/bin/quellan-server, quellan-relay and media_space_bench (scripts/build.sh release).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
mib=${1:-64}
server="${QUELLAN_BUILD:-$top/build}/bin/quellan-server"
relay="${QUELLAN_BUILD:-$top/build}/bin/quellan-relay"
client=${READER_BENCH:-"${QUELLAN_BUILD:-$top/build}/bin/media_space_bench"}  # another build of it to compare
for program in "$server" "$relay" "$client"; do
  [ -x "$program" ] || { echo "build $(basename "$program") first" >&2; exit 1; }
done
work=$(mktemp -d)
pid=""
relays=()
cleanup() {
  for r in "${relays[@]}"; do kill "$r" 2>/dev/null; wait "$r" 2>/dev/null || true; done
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
source "$top/bench/lib/stream_session.sh"
start_bench_server "$mib"
open_read_link

# start_relay TARGET_PORT DELAY_MS MBIT: sets $relay_port. Runs in this shell (not in a
# command substitution), so that cleanup knows every relay it started.
start_relay() {
  local out="$work/relay.${#relays[@]}"
  "$relay" --listen 0 --target "127.0.0.1:$1" --delay-ms "$2" --mbit "$3" >"$out" 2>&1 &
  relays+=($!)
  for _ in $(seq 50); do grep -q listening "$out" 2>/dev/null && break; sleep 0.1; done
  relay_port=$(sed -n 's/relay listening //p' "$out")
}

printf '%-22s %10s %10s\n' "link" "reader MB/s" "curl MB/s"
for setting in "0 0" "5 1000" "20 1000" "50 1000" "20 100"; do
  read -r rtt mbit <<<"$setting"
  delay=$((rtt / 2))
  start_relay "$port" "$delay" "$mbit"
  stream_relay=$relay_port
  start_relay "$web" "$delay" "$mbit"
  web_relay=$relay_port
  [ "$mbit" = 0 ] && label="rtt ${rtt} ms, no cap" || label="rtt ${rtt} ms, ${mbit} Mbit/s"
  read -r bytes seconds _ < <("$client" 127.0.0.1 "$stream_relay" "$token1" "$token2")
  stamp=$(date +%s)
  bps=$(curl -s -o /dev/null -w '%{speed_download}' \
    "http://127.0.0.1:$web_relay/download?id=$id&timestamp=$stamp&hash=$(md5 "$stamp$page")")
  awk -v l="$label" -v b="$bytes" -v s="$seconds" -v c="$bps" \
    'BEGIN { printf "%-22s %10.1f %10.1f\n", l, b / s / 1e6, c / 1e6 }'
done
