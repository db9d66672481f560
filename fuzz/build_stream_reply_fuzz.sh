#!/usr/bin/env bash
# Builds the reply-frame fuzz target with clang's libFuzzer into build-fuzz/ and, given a
# number of seconds, runs it that long on its corpus: fuzz/build_stream_reply_fuzz.sh [seconds]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build-fuzz"
mkdir -p "$out"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I"$top" \
  "$top/fuzz/stream_reply_fuzz.cpp" \
  "$top/drive/stream/CRSSocket.cpp" "$top/drive/stream/DataReply.cpp" \
  "$top/drive/stream/ReplyFrame.cpp" "$top/drive/stream/StreamLog.cpp" \
  -o "$out/stream_reply_fuzz"
if [ -n "${1:-}" ]; then
  work="$out/stream_reply_corpus"
  mkdir -p "$work"
  cd "$out"
  "$out/stream_reply_fuzz" -max_total_time="$1" -max_len=70000 "$work" "$top/fuzz/corpus/stream_reply"
fi
