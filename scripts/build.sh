#!/usr/bin/env bash
# Builds one flavour: "release" into build/ (optimised) or "asan" into build-asan/ or "tsan"
# into build-tsan/ (ThreadSanitizer). "asan", "fuzz" and "threadsafety" are one clang
# build in build-asan/: AddressSanitizer + UndefinedBehaviorSanitizer for the whole suite, the
# lock annotation check (-Wthread-safety, warnings as errors: a field touched without its lock
# fails the build) and the libFuzzer targets.
# QUELLAN_WERROR=ON in the environment makes every warning an error; QUELLAN_BENCH=OFF leaves
# the benchmarks out of the optimised build.
# Usage: build.sh [FLAVOUR [TARGET...]]; without targets everything of the flavour is built.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
[ $# -eq 0 ] || shift
werror=${QUELLAN_WERROR:-OFF}
case "$flavour" in
  release)
    dir=build
    # The benchmarks need build/ too; the test command leaves them out (QUELLAN_BENCH=OFF).
    flags=(-DCMAKE_BUILD_TYPE=Release -DQUELLAN_BENCH="${QUELLAN_BENCH:-ON}")
    ;;
  asan | fuzz | threadsafety)
    dir=build-asan
    werror=ON
    # Named in the cache too: a build-asan/ configured earlier with another compiler starts over.
    # -O1: with coverage counters in every object, -O0 slows the sanitized suite and the fuzz
    # targets' inputs per second several times.
    flags=(-DCMAKE_C_COMPILER="$(command -v clang)" -DCMAKE_CXX_COMPILER="$(command -v clang++)"
           -DCMAKE_BUILD_TYPE=Debug -DQUELLAN_SANITIZE=ON -DQUELLAN_FUZZ=ON -DQUELLAN_BENCH=OFF
           "-DCMAKE_C_FLAGS_DEBUG=-g -O1" "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1")
    ;;
  tsan) dir=build-tsan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_TSAN=ON -DQUELLAN_BENCH=OFF) ;;
  *)
    echo "usage: build.sh [release|asan|fuzz|threadsafety|tsan] [TARGET...]" >&2
    echo "  asan, fuzz and threadsafety are the same clang build (build-asan/)" >&2
    exit 2
    ;;
esac
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake -S "$top" -B "$top/$dir" "${flags[@]}" -DQUELLAN_WERROR="$werror" >/dev/null
cmake --build "$top/$dir" -j"$(nproc)" "${targets[@]}"
