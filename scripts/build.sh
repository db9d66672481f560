#!/usr/bin/env bash
# Builds one flavour: "release" into build/ (optimised) or "asan" into build-asan/
# (AddressSanitizer + UndefinedBehaviorSanitizer) or "tsan" into build-tsan/, or
# "threadsafety" into build-threadsafety/: the libraries and programs built with clang, whose
# lock annotation check (-Wthread-safety) fails the build on a field touched without its lock.
# QUELLAN_WERROR=ON in the environment makes every warning an error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
werror=${QUELLAN_WERROR:-OFF}
case "$flavour" in
  release) dir=build; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_SANITIZE=ON -DQUELLAN_BENCH=OFF) ;;
  tsan) dir=build-tsan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_TSAN=ON -DQUELLAN_BENCH=OFF) ;;
  threadsafety)
    dir=build-threadsafety
    werror=ON
    export CC=clang CXX=clang++
    flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_TESTS=OFF -DQUELLAN_BENCH=OFF)
    ;;
  *) echo "usage: build.sh [release|asan|tsan|threadsafety]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$top/$dir" "${flags[@]}" -DQUELLAN_WERROR="$werror" >/dev/null
cmake --build "$top/$dir" -j2
