#!/usr/bin/env bash
# Download of one file with a download task against curl of the same signed address, both
# from the reference service over loopback. Usage: bench/transfers/download_vs_curl.sh [MiB] [rounds]
# Needs build/bin/download_task_bench (cmake --build build --target download_task_bench).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bench="${QUELLAN_BUILD:-$top/build}/bin/download_task_bench"
[ -x "$bench" ] || { echo "build download_task_bench first" >&2; exit 1; }
exec "$bench" "${1:-512}" "${2:-3}"
