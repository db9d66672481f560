# Shared by the stream benchmarks (source it): a reference service on free ports holding one
# random file, and the web steps that lead to the file's read link.
# Needs: $top, $work, $server; sets $pid, $web and, after open_read_link, $id, $host, $port,
# $token1, $token2 and $page (the page session for signed downloads). The user's password is
# $bench_password (default "pw").

md5() { printf '%s' "$1" | md5sum | cut -d' ' -f1; }
get() { curl -s "http://127.0.0.1:$web$1"; echo; }  # replies end without a newline

# start_bench_server MIB: user "bench" (password "pw") with a MIB MiB file big.bin.
start_bench_server() {
  "$server" adduser --data "$work/data" bench pw >/dev/null
  head -c "$(($1 * 1048576))" /dev/urandom >"$work/data/bench/下载空间/big.bin"
  cat "$work/data/bench/下载空间/big.bin" >/dev/null  # both readers start from the page cache
  "$server" --data "$work/data" --web-port 0 --stream-port 0 >"$work/ports" 2>"$work/server.log" &
  pid=$!
  for _ in $(seq 100); do grep -q stream= "$work/ports" 2>/dev/null && break; sleep 0.1; done
  web=$(sed -n 's/.*web=[^:]*:\([0-9]*\).*/\1/p' "$work/ports")
}

# Web session, file id and read link, as the storage client gets them.
open_read_link() {
  local sid key user pass body
  IFS=, read -r _ sid key < <(get "/quellan?action=firstkey&t=1")
  user=$(printf bench | base64)
  pass=$(md5 "$(md5 "${bench_password:-pw}")$key")
  IFS=, read -r _ sid key < <(get "/quellan?action=login&username=$user&password=$pass&sessionid=$sid&hash=$(md5 "login$user$pass$sid$key")&t=1")
  body=$(get "/quellan?action=list3&sessionid=$sid&hash=$(md5 "list3$sid$key")&t=1" | cut -d, -f5)
  id=$(printf '%s' "$body" | base64 -d | grep ',big.bin,' | cut -d, -f1)
  IFS=, read -r _ host port token2 token1 < <(get "/quellan?action=readdist&id=$id&sessionid=$sid&hash=$(md5 "readdist$id$sid$key")&t=1")
  page=$(get "/page/login?username=bench&password=$(md5 "${bench_password:-pw}")" | cut -d, -f2)
}

# curl_mib: MiB/s of curl downloading big.bin over HTTP from the same server.
curl_mib() { curl_rate 1048576; }
# curl_rate UNIT: the same download's rate in bytes per UNIT.
curl_rate() {
  local stamp bps
  stamp=$(date +%s)
  bps=$(curl -s -o /dev/null -w '%{speed_download}' \
    "http://127.0.0.1:$web/download?id=$id&timestamp=$stamp&hash=$(md5 "$stamp$page")")
  awk -v b="$bps" -v u="$1" 'BEGIN { printf "%.1f", b / u }'
}
