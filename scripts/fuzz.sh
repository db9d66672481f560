#!/usr/bin/env bash
# Builds every libFuzzer target with clang into build-asan/fuzz/ (scripts/build.sh fuzz, the
# same clang build that runs the sanitized suite and checks the lock annotations) and runs each
# for a fixed time (first argument, seconds; default 20), as many at once as the machine has
# cores, seeded from fuzz/corpus/<target>/. Every source fuzz/<target>.cpp is a target: one that
# was not built, or has no seed inputs, fails the run with the reason. Exits non-zero when a
# target finds a crash; its input is kept in build-asan/fuzz-runs/.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
out="$top/build-asan/fuzz-runs"
built="$top/build-asan/fuzz"
jobs=$(nproc)

for tool in clang clang++; do
  if ! command -v "$tool" >/dev/null; then
    echo "fuzz: FAILED: $tool is not installed; no fuzz target can be built" >&2
    exit 1
  fi
done
bash "$top/scripts/build.sh" fuzz fuzzers || { echo "fuzz: FAILED: build" >&2; exit 1; }
mkdir -p "$out"

# run_target NAME: checks that the target was built and has seeds, then runs it. Prints its
# report; returns 0 when it ran clean, 1 when it found a crash, 2 when it could not run.
run_target() {
  local name=$1
  local fuzzer="$built/$name"
  if [ ! -x "$fuzzer" ]; then
    echo "=== fuzz $name: FAILED: not built (see the CMake warning above)"
    return 2
  fi
  local seeds="$top/fuzz/corpus/$name"
  local seed_count
  seed_count=$(find "$seeds" -maxdepth 1 -type f 2>/dev/null | wc -l)
  if [ "$seed_count" -eq 0 ]; then
    echo "=== fuzz $name: FAILED: no seed inputs in fuzz/corpus/$name/"
    return 2
  fi
  local corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  cp -n "$seeds"/* "$corpus"/
  local start_count
  start_count=$(find "$corpus" -maxdepth 1 -type f | wc -l)
  echo "=== fuzz $name: ${seconds}s from $start_count seed inputs ($seed_count in fuzz/corpus/$name)"
  if ! "$fuzzer" -max_total_time="$seconds" -max_len=70000 -artifact_prefix="$out/$name-" \
      "$corpus" >"$out/$name.log" 2>&1; then
    echo "=== fuzz $name: FAILED"
    tail -40 "$out/$name.log"
    return 1
  fi
  grep -E '^#[0-9]+.*DONE' "$out/$name.log" | tail -1
}

# Each target runs in a job of its own, writing its report and status beside its log; the
# reports are printed in the targets' order once all have ended.
names=()
for source in "$top"/fuzz/*.cpp; do
  name=$(basename "$source" .cpp)
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  rm -f "$out/$name.status"
  { run_target "$name"; echo $? >"$out/$name.status"; } >"$out/$name.report" 2>&1 &
  names+=("$name")
done
wait

status=0
count=0
for name in "${names[@]}"; do
  cat "$out/$name.report"
  result=$(cat "$out/$name.status" 2>/dev/null || echo 2)
  [ "$result" -eq 0 ] || status=1
  [ "$result" -eq 2 ] || count=$((count + 1))
done
echo "fuzz: $count targets run"
exit $status
