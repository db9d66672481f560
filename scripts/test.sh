#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer and the optimised flavours,
# and runs the whole test suite in both.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh" || exit 1

status=0
for flavour in asan release; do
  dir=build; [ "$flavour" = asan ] && dir=build-asan
  echo "=== $flavour: build"
  bash "$top/scripts/build.sh" "$flavour" || { echo "=== $flavour: build failed"; exit 1; }
  echo "=== $flavour: tests"
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  (cd "$top/$dir" && ctest -j2 --output-on-failure --timeout 300) || status=1
done
exit $status
