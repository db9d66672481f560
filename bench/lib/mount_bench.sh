# Shared by the benchmarks that mount our drive and rclone's (source it): a work folder in
# memory, its drive root and control pipe, and clean-up of both mounts and every started process on exit.
# Needs: $work; fills the array pids with the processes to end.

export QUELLAN_DRIVE_ROOT="$work/drives"
# A control pipe of its own: a drive program finding the pipe served by another one ends.
export QUELLAN_PIPE="$work/pipe/Tarvex"
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

# The functions below need $bin (the build's program folder).

# start_service [SERVER OPTIONS...]: the reference service over $work/data on a free web port,
# exported as QUELLAN_WEB_PORT so that the drive program logs in there (kept when already
# set, so that a restarted service keeps its port); sets $service_pid.
start_service() {
  export QUELLAN_WEB_PORT=${QUELLAN_WEB_PORT:-$(free_port)}
  "$bin/quellan-server" --data "$work/data" --web-port "$QUELLAN_WEB_PORT" "$@" \
    2>"$work/server.log" &
  service_pid=$!
  pids+=($service_pid)
  wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$QUELLAN_WEB_PORT"
}

# write_quellan_settings: the settings of the drive program (letter Q, user "bench", password
# "benchpw", log level $QUELLAN_DEBUG or 1).
write_quellan_settings() {
  cat >"$work/program/tarvex.ini" <<INI
[Set]
Debug=${QUELLAN_DEBUG:-1}
DriveLetter=Q
ServerAddress=127.0.0.1
Run=1

[User]
UserName=bench
PassWord=$(printf '%s' benchpw | md5sum | cut -d' ' -f1)
INI
}

# launch_quellan: writes the settings and starts the drive program; sets $quellan_pid.
launch_quellan() {
  write_quellan_settings
  "$bin/quellan" -d "$work/program" >"$work/quellan.out" 2>&1 &
  quellan_pid=$!
  pids+=($quellan_pid)
}

# start_quellan PATH: launch_quellan, then waits until PATH below the drive root exists, or
# ends the script.
start_quellan() {
  launch_quellan
  wait_for 60 test -e "$QUELLAN_DRIVE_ROOT/Q/$1" ||
    { echo "quellan did not mount"; tail "$work/quellan.out"; exit 1; }
}

# stop_service_and_quellan: unmounts the drive and ends both, so they can start anew.
stop_service_and_quellan() {
  fusermount3 -u "$QUELLAN_DRIVE_ROOT/Q" 2>/dev/null || true
  kill "$quellan_pid" "$service_pid" 2>/dev/null || true
  wait "$quellan_pid" "$service_pid" 2>/dev/null || true
  mountpoint -q "$QUELLAN_DRIVE_ROOT/Q" && fusermount3 -uz "$QUELLAN_DRIVE_ROOT/Q" || true
}

# ratio A B: A / B with two decimals, "-" when B is not above zero.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# free_port: a TCP port nothing listens on now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_relay TARGET_PORT ROUND_TRIP_MS MBIT: the link emulator in front of the port, with half
# the round trip as delay each way and the rate cap per direction; sets $relay_port.
start_relay() {
  local out="$work/relay.$1.$RANDOM"
  "$bin/quellan-relay" --listen 0 --target "127.0.0.1:$1" --delay-ms $(($2 / 2)) --mbit "$3" \
    >"$out" 2>&1 &
  pids+=($!)
  wait_for 10 grep -q listening "$out"
  relay_port=$(sed -n 's/relay listening //p' "$out")
}
