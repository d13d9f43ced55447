#!/usr/bin/env bash
# A Varnish cache on a free port of 127.0.0.1 in front of a server there, as
# a CDN's edge is, for the tests of caching between the server and players.
#
#   varnish-serve.sh start DIR ORIGIN_PORT   state, config and log go to DIR;
#                                            writes DIR/port and DIR/varnish.pid,
#                                            prints "PORT PID"
#   varnish-serve.sh stop DIR                stop it by its PID
#
# Varnish keeps each answer as long as the server's Cache-Control says and
# ignores the client's no-cache, as it does out of the box. Its grace (handing
# out an expired copy while it fetches a new one) is turned off: a publisher
# who caches the definition files 1 s means 1 s.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

usage() {
  echo "usage: varnish-serve.sh start DIR ORIGIN_PORT | stop DIR" >&2
  exit 2
}
[ $# -ge 2 ] || usage
action=$1
dir=$(realpath -m "$2")

stop() {
  [ -f "$dir/varnish.pid" ] || return 0
  end_process_in "$dir/varnish.pid"
  rm -f "$dir/port"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

start() {
  local origin_port=$1 port pid
  stop
  mkdir -p "$dir"
  cat > "$dir/cache.vcl" <<VCL
vcl 4.1;
backend origin { .host = "127.0.0.1"; .port = "$origin_port"; }
sub vcl_backend_response {
  set beresp.grace = 0s;
  set beresp.keep = 0s;
}
sub vcl_deliver {
  if (obj.hits > 0) { set resp.http.X-Cache = "HIT"; } else { set resp.http.X-Cache = "MISS"; }
}
VCL
  # Started as root, varnishd hands its workers to its own users, who cannot
  # read a private folder; without a jail they run as the caller.
  local jail=()
  [ "$(id -u)" -eq 0 ] && jail=(-j none)
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    rm -rf "$dir/work"
    /usr/sbin/varnishd -F "${jail[@]}" -n "$dir/work" -a "127.0.0.1:$port" -T none \
      -f "$dir/cache.vcl" -s malloc,256m -p default_grace=0 >"$dir/varnish.out" 2>&1 </dev/null &
    pid=$!
    echo "$pid" > "$dir/varnish.pid"
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
        echo "$port" > "$dir/port"
        echo "$port $pid"
        return 0
      fi
      sleep 0.1
    done
    stop
  done
  echo "varnish-serve.sh: varnishd did not start; see $dir/varnish.out" >&2
  return 1
}

case "$action" in
  start) [ $# -eq 3 ] || usage; start "$3" ;;
  stop) [ $# -eq 2 ] || usage; stop ;;
  *) usage ;;
esac
