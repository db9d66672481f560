#!/usr/bin/env bash
# Builds the storage client's fuzz targets with clang's libFuzzer into build-fuzz/ and, with
# "run", runs each for a short fixed time (FUZZ_SECONDS, default 30).
#   fuzz/build_storage_fuzz.sh          build list3_fuzz and file_info_fuzz
#   fuzz/build_storage_fuzz.sh run      build, then run each
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build-fuzz"
mkdir -p "$out"
sources=(
  "$top/drive/storage/FileInfoReply.cpp" "$top/drive/storage/FileListWriter.cpp"
  "$top/drive/storage/FolderTree.cpp" "$top/drive/storage/ListReply.cpp"
  "$top/drive/storage/NodeLine.cpp" "$top/drive/storage/ReplyText.cpp"
  "$top/drive/storage/TextDigest.cpp" "$top/platform/codepage/CodePage.cpp"
)
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I "$top")
for target in list3_fuzz file_info_fuzz; do
  clang++ "${flags[@]}" "$top/fuzz/$target.cpp" "${sources[@]}" -lcrypto -o "$out/$target"
done
if [[ "${1:-}" == "run" ]]; then
  for target in list3_fuzz file_info_fuzz; do
    mkdir -p "$out/corpus-$target"
    "$out/$target" -max_total_time="${FUZZ_SECONDS:-30}" -max_len=65536 "$out/corpus-$target"
  done
fi
