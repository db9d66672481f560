#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer and the optimised flavours, runs the whole
# test suite in both, then runs every fuzz target for a short fixed time.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh" || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
passed=0
failed=0
for flavour in asan release; do
  dir=build
  [ "$flavour" = asan ] && dir=build-asan
  echo "=== $flavour: build"
  bash "$top/scripts/build.sh" "$flavour" || { echo "=== $flavour: build failed"; exit 1; }
  echo "=== $flavour: tests"
  log="$top/$dir/ctest.log"
  (cd "$top/$dir" && ctest -j2 --output-on-failure --timeout 300) 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$summary" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    status=1
  fi
done

echo "=== fuzz"
bash "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}" || { status=1; failed=$((failed + 1)); }

echo "$passed passed, $failed failed"
exit $status
