#!/usr/bin/env bash
# Builds one flavour: "release" into build/ (optimised) or "asan" into build-asan/
# (AddressSanitizer + UndefinedBehaviorSanitizer) or "tsan" into build-tsan/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
case "$flavour" in
  release) dir=build; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_SANITIZE=ON -DQUELLAN_BENCH=OFF) ;;
  tsan) dir=build-tsan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELLAN_TSAN=ON -DQUELLAN_BENCH=OFF) ;;
  *) echo "usage: build.sh [release|asan|tsan]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$top/$dir" "${flags[@]}" >/dev/null
cmake --build "$top/$dir" -j2
