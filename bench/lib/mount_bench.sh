# Shared by the benchmarks that mount our drive and rclone's (source it): a work folder in
# memory, its drive root, and clean-up of both mounts and every started process on exit.
# Needs: $work; fills the array pids with the processes to end.

export QUELLAN_DRIVE_ROOT="$work/drives"
mkdir -p "$work/program" "$QUELLAN_DRIVE_ROOT" "$work/rclone-mount"
pids=()

unmount_all() {  # unmount_all [fusermount3 flag]
  for mnt in "$QUELLAN_DRIVE_ROOT"/* "$work/rclone-mount"; do
    mountpoint -q "$mnt" 2>/dev/null && fusermount3 "${1:--u}" "$mnt" 2>/dev/null || true
  done
}

cleanup() {
  unmount_all -u
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  unmount_all -uz
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

wait_for() {  # wait_for SECONDS COMMAND...
  local limit=$1
  shift
  local deadline=$(($(date +%s) + limit))
  until "$@" >/dev/null 2>&1; do
    (($(date +%s) > deadline)) && return 1
    sleep 0.05
  done
}
