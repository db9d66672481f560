#!/usr/bin/env bash
# Builds every libFuzzer target with clang into build-fuzz/ and runs each for a fixed time
# (first argument, seconds; default 20), seeded from fuzz/corpus/<target>/ when present.
# Exits non-zero when a target finds a crash; its input is kept in build-fuzz/.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
out="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUELLAN_FUZZ=ON -DQUELLAN_TESTS=OFF -DQUELLAN_BENCH=OFF \
  -DQUELLAN_WERROR="${QUELLAN_WERROR:-OFF}" >/dev/null || exit 1
cmake --build "$out" --target fuzzers -j2 || exit 1

status=0
count=0
for fuzzer in "$out"/fuzz/*; do
  [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  seeds="$top/fuzz/corpus/$name"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null
  echo "=== fuzz $name: ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -max_len=70000 -artifact_prefix="$out/$name-" \
      "$corpus" >"$out/$name.log" 2>&1; then
    echo "=== fuzz $name: FAILED"
    tail -40 "$out/$name.log"
    status=1
  else
    grep -E '^#[0-9]+.*DONE' "$out/$name.log" | tail -1
  fi
  count=$((count + 1))
done
echo "fuzz: $count targets run"
exit $status
