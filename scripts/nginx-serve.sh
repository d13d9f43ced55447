#!/usr/bin/env bash
# Serves the folder ROOT with nginx on a free port of 127.0.0.1, in the
# background, and prints "PORT PID". State and logs go to ROOT/../nginx-state.
# The caller stops it by that PID.
# usage: nginx-serve.sh ROOT
set -euo pipefail
root=$(realpath "$1")
state="$(dirname "$root")/nginx-state"
mkdir -p "$state/tmp"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$state/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log;
events { worker_connections 64; }
http {
    access_log $state/access.log;
    client_body_temp_path $state/tmp;
    proxy_temp_path $state/tmp;
    fastcgi_temp_path $state/tmp;
    uwsgi_temp_path $state/tmp;
    scgi_temp_path $state/tmp;
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:$port;
        root $root;
    }
}
CONF
/usr/sbin/nginx -c "$state/nginx.conf" -p "$state" </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 50); do
  if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then
    echo "$port $pid"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill "$pid" 2>/dev/null || true
echo "nginx-serve.sh: nginx did not start; see $state/error.log" >&2
exit 1
