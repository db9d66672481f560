#!/usr/bin/env bash
# Builds every libFuzzer target with clang into build-fuzz/ and runs each for a fixed time
# (first argument, seconds; default 20), seeded from fuzz/corpus/<target>/. Every source
# fuzz/<target>.cpp is a target: one that was not built, or has no seed inputs, fails the run
# with the reason. Exits non-zero when a target finds a crash; its input is kept in build-fuzz/.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
out="$top/build-fuzz"

for tool in clang clang++; do
  if ! command -v "$tool" >/dev/null; then
    echo "fuzz: FAILED: $tool is not installed; no fuzz target can be built" >&2
    exit 1
  fi
done
mkdir -p "$out"
if ! CC=clang CXX=clang++ cmake -S "$top" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUELLAN_FUZZ=ON -DQUELLAN_TESTS=OFF -DQUELLAN_BENCH=OFF \
    -DQUELLAN_WERROR="${QUELLAN_WERROR:-OFF}" >"$out/cmake.log" 2>&1; then
  echo "fuzz: FAILED: configuring the fuzz build failed:" >&2
  grep -A3 -E 'CMake (Error|Warning)' "$out/cmake.log" >&2
  exit 1
fi
grep -A2 'CMake Warning' "$out/cmake.log"
cmake --build "$out" --target fuzzers -j2 || { echo "fuzz: FAILED: build" >&2; exit 1; }

status=0
count=0
for source in "$top"/fuzz/*.cpp; do
  name=$(basename "$source" .cpp)
  fuzzer="$out/fuzz/$name"
  if [ ! -x "$fuzzer" ]; then
    echo "=== fuzz $name: FAILED: not built (see the CMake warning above)"
    status=1
    continue
  fi
  seeds="$top/fuzz/corpus/$name"
  seed_count=$(find "$seeds" -maxdepth 1 -type f 2>/dev/null | wc -l)
  if [ "$seed_count" -eq 0 ]; then
    echo "=== fuzz $name: FAILED: no seed inputs in fuzz/corpus/$name/"
    status=1
    continue
  fi
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  cp -n "$seeds"/* "$corpus"/
  start_count=$(find "$corpus" -maxdepth 1 -type f | wc -l)
  echo "=== fuzz $name: ${seconds}s from $start_count seed inputs ($seed_count in fuzz/corpus/$name)"
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
