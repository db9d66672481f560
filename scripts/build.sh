#!/usr/bin/env bash
# Builds one flavour: "release" into build/ (optimised) or "asan" into build-asan/
# (AddressSanitizer + UndefinedBehaviorSanitizer) or "tsan" into build-tsan/, or "fuzz" into
# build-fuzz/: the libraries, the programs and the libFuzzer targets built with clang, whose
# lock annotation check (-Wthread-safety, warnings as errors) fails the build on a field touched
# without its lock. "threadsafety" is the same clang build.
# QUELLAN_WERROR=ON in the environment makes every warning an error.
# Usage: build.sh [FLAVOUR [TARGET...]]; without targets everything of the flavour is built.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
[ $# -eq 0 ] || shift
werror=${QUELLAN_WERROR:-OFF}
case "$flavour" in
  release) dir=build; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_SANITIZE=ON -DQUELLAN_BENCH=OFF) ;;
  tsan) dir=build-tsan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_TSAN=ON -DQUELLAN_BENCH=OFF) ;;
  fuzz | threadsafety)
    dir=build-fuzz
    werror=ON
    export CC=clang CXX=clang++
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLAN_FUZZ=ON -DQUELLAN_TESTS=OFF
           -DQUELLAN_BENCH=OFF)
    ;;
  *) echo "usage: build.sh [release|asan|tsan|fuzz|threadsafety] [TARGET...]" >&2; exit 2 ;;
esac
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake -S "$top" -B "$top/$dir" "${flags[@]}" -DQUELLAN_WERROR="$werror" >/dev/null
cmake --build "$top/$dir" -j"$(nproc)" "${targets[@]}"
