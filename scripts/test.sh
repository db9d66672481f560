#!/usr/bin/env bash
# Installs what is missing, checks the lock annotations with a clang build, builds the
# sanitizer and the optimised flavours and runs the whole test suite in both, runs the stream
# reader's tests under ThreadSanitizer, builds the Debian package from the optimised build and
# checks it without installing it (lintian, the unpacked programs), then runs every fuzz
# target for a short fixed time.
# Every build treats warnings as errors. Ends with one "N passed, N failed, N skipped" line;
# every skipped test is listed with the reason it gave.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh" || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export QUELLAN_WERROR=ON

status=0
passed=0
failed=0
skipped=0

# run_suite DIR [ctest arguments...]: runs CTest in DIR and adds its counts to the totals.
run_suite() {
  local dir=$1
  shift
  local log="$dir/ctest.log"
  (cd "$dir" && ctest -j2 --output-on-failure --timeout 300 "$@") 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$summary" ]; then
    echo "=== no CTest summary in $log: counted as one failure"
    status=1
    failed=$((failed + 1))
    return
  fi
  local total bad skips
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  # CTest counts a skipped test as passed in its summary and lists it under "did not run".
  skips=$(grep -cE '^\s*[0-9]+ - .* \(Skipped\)$' "$log")
  passed=$((passed + total - bad - skips))
  failed=$((failed + bad))
  skipped=$((skipped + skips))
  [ "$skips" -eq 0 ] || print_skip_reasons "$dir/Testing/Temporary/LastTest.log"
}

# print_skip_reasons LOG: each skipped test of the last CTest run with the reason it printed.
print_skip_reasons() {
  echo "--- skipped tests and why:"
  awk '/ Testing: / { name = $NF } /Skipped$/ { getline reason; print "  " name ": " reason }' "$1" |
    sort -u
}

echo "=== threadsafety: clang build with -Wthread-safety -Werror (building is the check)"
bash "$top/scripts/build.sh" threadsafety ||
  { echo "=== threadsafety: build failed (a lock annotation or warning above)"; exit 1; }

for flavour in asan release; do
  dir="$top/build"
  [ "$flavour" = asan ] && dir="$top/build-asan"
  echo "=== $flavour: build"
  bash "$top/scripts/build.sh" "$flavour" || { echo "=== $flavour: build failed"; exit 1; }
  echo "=== $flavour: tests"
  run_suite "$dir"
done

echo "=== package: build, lintian, the unpacked programs"
if bash "$top/scripts/package.sh" --check; then
  passed=$((passed + 1))
else
  echo "=== package: check failed"
  status=1
  failed=$((failed + 1))
fi

echo "=== tsan: stream reader"
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DQUELLAN_TSAN=ON \
  -DQUELLAN_BENCH=OFF -DQUELLAN_WERROR=ON >/dev/null &&
  cmake --build "$top/build-tsan" -j2 --target quellan-server stream_cache_test \
    stream_protocol_test stream_reader_test stream_reference_test stream_recovery_test ||
  { echo "=== tsan: build failed"; exit 1; }
run_suite "$top/build-tsan" -L stream

echo "=== fuzz"
bash "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}" || { status=1; failed=$((failed + 1)); }

echo "$passed passed, $failed failed, $skipped skipped"
exit $status
