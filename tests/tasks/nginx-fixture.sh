#!/bin/sh
# Starts or stops the nginx that serves the task tests' files.
# usage: nginx-fixture.sh start|stop FOLDER
# start: writes FOLDER/nginx.conf (loopback, a free port, temp paths and logs
# under FOLDER), serves FOLDER/www, writes the port to FOLDER/port once nginx
# answers, and leaves nginx running with its PID in FOLDER/nginx.pid.
# stop: ends that nginx by its PID.
set -eu
action=$1
folder=$2

stop() {
  if [ -f "$folder/nginx.pid" ]; then
    pid=$(cat "$folder/nginx.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    rm -f "$folder/nginx.pid"
  fi
  rm -f "$folder/port"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

case "$action" in
stop)
  stop
  exit 0
  ;;
start)
  stop
  mkdir -p "$folder/www" "$folder/temp"
  # Run as root, nginx would hand its workers to "nobody", who may not reach
  # a build folder; they keep the caller's user instead.
  user_line=""
  if [ "$(id -u)" -eq 0 ]; then
    user_line="user $(id -un) $(id -gn);"
  fi
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    cat > "$folder/nginx.conf" <<CONF
daemon off;
$user_line
worker_processes 1;
pid $folder/nginx-master.pid;
error_log $folder/error.log warn;
events { worker_connections 64; }
http {
  access_log $folder/access.log;
  client_body_temp_path $folder/temp/body;
  proxy_temp_path $folder/temp/proxy;
  fastcgi_temp_path $folder/temp/fastcgi;
  uwsgi_temp_path $folder/temp/uwsgi;
  scgi_temp_path $folder/temp/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $folder/www;
  }
}
CONF
    # Its own output goes to a file: ctest waits for every holder of the
    # script's output to let go.
    nginx -c "$folder/nginx.conf" -p "$folder" >"$folder/nginx.out" 2>&1 </dev/null &
    echo $! > "$folder/nginx.pid"
    for _ in $(seq 1 50); do
      if ! kill -0 "$(cat "$folder/nginx.pid")" 2>/dev/null; then
        break
      fi
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
        echo "$port" > "$folder/port"
        echo "nginx on 127.0.0.1:$port, PID $(cat "$folder/nginx.pid")"
        exit 0
      fi
      sleep 0.1
    done
    stop
  done
  echo "nginx-fixture.sh: nginx did not start; see $folder/error.log $folder/nginx.out" >&2
  exit 1
  ;;
*)
  echo "usage: $0 start|stop FOLDER" >&2
  exit 2
  ;;
esac
