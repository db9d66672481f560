#!/usr/bin/env bash
# The main job on one machine: installs what is missing, builds the three programs (not the
# tests and benchmarks), starts the reference storage service with a demo account and demo
# files, and runs the drive program on it in the foreground (Ctrl+C ends both). Everything
# lives in ./demo.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh" release quellan quellan-server quellanview

demo="$top/demo"
bin="$top/build/bin"
mkdir -p "$demo/program"
export QUELLAN_DRIVE_ROOT="${QUELLAN_DRIVE_ROOT:-$demo/drives}"
mkdir -p "$QUELLAN_DRIVE_ROOT"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # A drive program that could not unmount leaves its mount behind; clear it.
  grep -F " $QUELLAN_DRIVE_ROOT/" /proc/self/mountinfo | awk '{print $5}' |
    while read -r mnt; do fusermount3 -u -z "$mnt" 2>/dev/null || true; done
}
trap cleanup EXIT INT TERM

if [ -x "$bin/quellan-server" ]; then
  if [ ! -d "$demo/data/demo" ]; then
    "$bin/quellan-server" adduser --data "$demo/data" demo demo123 --writable 我的空间
    mkdir -p "$demo/data/demo/我的空间/照片" "$demo/data/demo/下载空间"
    echo "Hello from the demo account." > "$demo/data/demo/我的空间/readme.txt"
    head -c 10485760 /dev/urandom > "$demo/data/demo/我的空间/sample.bin"
  fi
  # The service also offers this build's desktop program as version 1.0.1, the update of the
  # installed 1.0.0 (release.ini).
  "$bin/quellan-server" --data "$demo/data" --release "$bin/quellanview" --release-version 1.0.1 &
  pids+=($!)
  echo "demo: reference service started (user demo, password demo123)"
  password_digest=$(printf '%s' demo123 | md5sum | cut -d' ' -f1)
else
  echo "demo: the reference service is not built yet; running the drive program alone"
  password_digest=""
fi

cat > "$demo/program/tarvex.ini" <<INI
[Set]
Debug=7
DriveLetter=M
ServerAddress=127.0.0.1
Run=1

[User]
UserName=demo
PassWord=$password_digest
INI

# The desktop program's files beside the settings: the page, the icons, the installed version.
ln -sfn "$top/skin" "$demo/program/skin"
cp "$top/skin/quellan.ico" "$top/skin/Server.ico" "$top/skin/release.ini" "$demo/program/"
echo "demo: the desktop program: $bin/quellanview -d $demo/program (without a desktop: QT_QPA_PLATFORM=offscreen)"

echo "demo: drive program running in $demo/program (log: mirror.log); drives appear under $QUELLAN_DRIVE_ROOT"
"$bin/quellan" -d "$demo/program" &
pids+=($!)
wait -n "${pids[@]}"
