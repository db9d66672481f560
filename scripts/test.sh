#!/usr/bin/env bash
# Installs what is missing; builds everything with clang under AddressSanitizer +
# UndefinedBehaviorSanitizer, which also checks the lock annotations and builds the fuzz
# targets, and runs the whole test suite in it; builds the optimised flavour and runs the whole
# suite there too, as many tests at once as the machine has cores; builds the Debian package
# from the optimised build and checks it without installing it (lintian, the unpacked
# programs); runs the stream reader's tests under ThreadSanitizer, then every fuzz target for a
# short fixed time. Each step prints how long it took.
# Every build treats warnings as errors. Ends with one "N passed, N failed, N skipped" line;
# every skipped test is listed with the reason it gave.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh" || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export QUELLAN_WERROR=ON
# The benchmarks are run on their own, not here.
export QUELLAN_BENCH=OFF

jobs=$(nproc)
status=0
passed=0
failed=0
skipped=0

# run_suite DIR [ctest arguments...]: runs CTest in DIR and adds its counts to the totals.
run_suite() {
  local dir=$1
  shift
  local log="$dir/ctest.log"
  (cd "$dir" && ctest -j"$jobs" --output-on-failure --timeout 300 "$@") 2>&1 | tee "$log"
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

# step NAME: prints how long the previous step took and starts timing the next one.
step_name=""
step_start=$SECONDS
step() {
  [ -z "$step_name" ] || echo "=== $step_name: $((SECONDS - step_start)) s"
  step_name=$1
  step_start=$SECONDS
}

# One clang build serves three jobs: the sanitized suite, the lock check (-Wthread-safety
# -Werror: building is the check) and the fuzz targets, which run at the end.
for flavour in asan release; do
  dir="$top/build"
  [ "$flavour" = asan ] && dir="$top/build-asan"
  step "$flavour build"
  echo "=== $flavour: build"
  bash "$top/scripts/build.sh" "$flavour" ||
    { echo "=== $flavour: build failed (a warning or lock annotation above)"; exit 1; }
  step "$flavour tests"
  echo "=== $flavour: tests"
  # The desktop session test preloads a probe into the real desktop program, which a sanitized
  # program does not take: it runs in the optimised build only.
  if [ "$flavour" = asan ]; then
    run_suite "$dir" -LE xdesktop
  else
    run_suite "$dir"
  fi
done

step "package"
echo "=== package: build, lintian, the unpacked programs"
if bash "$top/scripts/package.sh" --check; then
  passed=$((passed + 1))
else
  echo "=== package: check failed"
  status=1
  failed=$((failed + 1))
fi

step "tsan build"
echo "=== tsan: stream reader"
bash "$top/scripts/build.sh" tsan quellan-server stream_cache_test stream_protocol_test \
  stream_reader_test stream_reference_test stream_recovery_test ||
  { echo "=== tsan: build failed"; exit 1; }
step "tsan tests"
run_suite "$top/build-tsan" -L stream

step "fuzz"
echo "=== fuzz"
bash "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}" || { status=1; failed=$((failed + 1)); }
step ""

echo "$passed passed, $failed failed, $skipped skipped"
exit $status
