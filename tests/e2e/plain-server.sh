#!/usr/bin/env bash
# Python's http.server on a free port of 127.0.0.1: a static server that
# ignores Range and answers every request with the whole file (200).
#   plain-server.sh start DIR ROOT   serve ROOT in the background; writes
#                                    DIR/port and DIR/server.pid, its log of
#                                    requests to DIR/server.log
#   plain-server.sh stop DIR         stop it by its PID
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: plain-server.sh start DIR ROOT | stop DIR" >&2; exit 2; }
dir=$(realpath -m "$2")

stop() {
  [ -f "$dir/server.pid" ] || return 0
  kill "$(cat "$dir/server.pid")" 2>/dev/null || true
  rm -f "$dir/server.pid" "$dir/port"
}

case $1 in
  start)
    [ $# -eq 3 ] || { echo "usage: plain-server.sh start DIR ROOT" >&2; exit 2; }
    stop
    mkdir -p "$dir" "$3"
    for _ in 1 2 3 4 5; do
      port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
      python3 -m http.server "$port" --bind 127.0.0.1 --directory "$(realpath "$3")" \
        >"$dir/server.log" 2>&1 </dev/null &
      echo $! > "$dir/server.pid"
      for _ in $(seq 1 50); do
        if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
          echo "$port" > "$dir/port"
          exit 0
        fi
        sleep 0.1
      done
      stop
    done
    echo "plain-server.sh: http.server did not start; see $dir/server.log" >&2
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: plain-server.sh start DIR ROOT | stop DIR" >&2; exit 2 ;;
esac
