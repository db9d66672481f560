#!/usr/bin/env bash
# Builds the server's libFuzzer targets with clang (ASan + UBSan) into build-fuzz/ and runs
# each for a fixed time. Usage: fuzz/run_server_fuzzers.sh [seconds per target, default 60]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out="$top/build-fuzz"
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$top")

build() {  # name sources...
  local name=$1; shift
  clang++ "${flags[@]}" "$@" -o "$out/$name"
}
build server_stream_request_fuzzer "$top/fuzz/server_stream_request_fuzzer.cpp" \
  "$top/server/stream/StreamRequest.cpp"
build server_web_query_fuzzer "$top/fuzz/server_web_query_fuzzer.cpp" \
  "$top/server/web/RawQuery.cpp"

status=0
for name in server_stream_request server_web_query; do
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  cp -n "$top/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  echo "=== $name: ${seconds}s"
  "$out/${name}_fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$out/$name-" "$corpus" || status=1
done
exit $status
