#!/usr/bin/env bash
# The one nginx launcher of the demo, the test fixtures and the benchmarks.
#
#   nginx-serve.sh start DIR [ROOT] [--tls CERT KEY] [--cache-headers]
#                                    serve ROOT (default DIR/www) on a free port
#                                    of 127.0.0.1 in the background; config,
#                                    logs (access.log; ranges.log with each
#                                    request's Range) and state go to DIR; writes DIR/port
#                                    and DIR/nginx.pid, prints "PORT PID".
#                                    With --tls, HTTPS only, with the
#                                    certificate chain CERT and its key KEY.
#                                    With --cache-headers, the Cache-Control
#                                    lines of docs/hosting.md: the definition
#                                    files 1 s, a digest's folder a year,
#                                    everything else a day
#   nginx-serve.sh start DIR --cache-of PORT
#                                    a caching proxy in front of the server on
#                                    127.0.0.1:PORT, as a CDN's edge is: it
#                                    keeps each answer as long as the server's
#                                    Cache-Control says, ignores the client's
#                                    no-cache, keys on the query string and
#                                    asks the server once for what many
#                                    clients want at the same moment
#   nginx-serve.sh stop DIR          stop that nginx by its PID
#   nginx-serve.sh check DIR PATH    fetch http(s)://127.0.0.1:PORT/PATH; when
#                                    the answer is not 200, say what the server
#                                    answered and where its log is, exit 1.
#                                    HTTPS is checked against the CAs that curl
#                                    trusts (CURL_CA_BUNDLE names others)
#
# The workers run as the caller: started as root, nginx would otherwise hand
# them to "nobody", who cannot read a folder of mode 0700 such as root's home
# or a private temporary folder, and every request would be answered 403.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

usage() {
  echo "usage: nginx-serve.sh start DIR [ROOT] [--tls CERT KEY] [--cache-headers|--cache-of PORT]" >&2
  echo "       nginx-serve.sh stop DIR | check DIR PATH" >&2
  exit 2
}
[ $# -ge 2 ] || usage
action=$1
dir=$(realpath -m "$2")

stop() {
  [ -f "$dir/nginx.pid" ] || return 0
  end_process_in "$dir/nginx.pid"
  rm -f "$dir/port" "$dir/scheme"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# docs/hosting.md's lines for nginx, as a publisher pastes them.
cache_header_lines() {
  cat <<'LINES'
    location ~ "/(update\.qdv|MD5\.txt|readme\.txt|update\.sig)$" {
      add_header Cache-Control "public, max-age=1" always;
    }
    location ~ "/[0-9a-f]{16}/[^/]+$" {
      add_header Cache-Control "public, max-age=31536000, immutable" always;
    }
    location / {
      add_header Cache-Control "public, max-age=86400" always;
    }
LINES
}

# A server block's contents for a caching proxy in front of origin_port.
cache_proxy_lines() {
  cat <<LINES
    location / {
      proxy_pass http://127.0.0.1:$1;
      proxy_cache fernup;
      proxy_cache_key \$scheme\$proxy_host\$request_uri;
      proxy_cache_lock on;
      proxy_http_version 1.1;
      add_header X-Cache \$upstream_cache_status always;
    }
LINES
}

start() {
  local root=$1 cert=${2:-} key=${3:-} mode=${4:-} origin_port=${5:-}
  local user_line="" port pid tls_lines="" scheme=http server_lines="" cache_path=""
  stop
  mkdir -p "$root" "$dir/temp"
  root=$(realpath "$root")
  server_lines="root $root;"
  if [ "$mode" = headers ]; then
    server_lines="$server_lines
$(cache_header_lines)"
  elif [ "$mode" = proxy ]; then
    rm -rf "$dir/cache"
    mkdir -p "$dir/cache"
    cache_path="proxy_cache_path $dir/cache levels=1:2 keys_zone=fernup:1m max_size=1g inactive=2d use_temp_path=off;"
    server_lines=$(cache_proxy_lines "$origin_port")
  fi
  if [ -n "$cert" ]; then
    scheme=https
    tls_lines="ssl_certificate $(realpath "$cert"); ssl_certificate_key $(realpath "$key");"
  fi
  if [ "$(id -u)" -eq 0 ]; then
    user_line="user $(id -un) $(id -gn);"
  fi
  # A free port can be taken by someone else before nginx binds it: try again.
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    cat > "$dir/nginx.conf" <<CONF
daemon off;
$user_line
worker_processes 1;
pid $dir/nginx-master.pid;
error_log $dir/error.log warn;
events { worker_connections 64; }
http {
  access_log $dir/access.log;
  # Beside it, each request with the range it asked for: the combined format
  # of access.log has no room for it.
  log_format ranges '\$request_uri \$status \$body_bytes_sent "\$http_range" "\$http_user_agent"';
  access_log $dir/ranges.log ranges;
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
  default_type application/octet-stream;
  sendfile on;
  $cache_path
  server {
    listen 127.0.0.1:$port${cert:+ ssl};
    $tls_lines
$server_lines
  }
}
CONF
    # nginx's own output goes to a file: ctest waits for every holder of a
    # fixture's output to let go.
    /usr/sbin/nginx -c "$dir/nginx.conf" -p "$dir" >"$dir/nginx.out" 2>&1 </dev/null &
    pid=$!
    echo "$pid" > "$dir/nginx.pid"
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      # Any answer shows nginx listens: on an HTTPS port plain HTTP is
      # answered 400, which needs no trust in the certificate.
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
        echo "$port" > "$dir/port"
        echo "$scheme" > "$dir/scheme"
        echo "$port $pid"
        return 0
      fi
      sleep 0.1
    done
    stop
  done
  echo "nginx-serve.sh: nginx did not start; see $dir/error.log and $dir/nginx.out" >&2
  return 1
}

check() {
  local path=$1 url status
  if [ ! -f "$dir/port" ]; then
    echo "nginx-serve.sh: no server runs from $dir" >&2
    return 1
  fi
  url="$(cat "$dir/scheme" 2>/dev/null || echo http)://127.0.0.1:$(cat "$dir/port")/$path"
  status=$(curl -s -o /dev/null -w '%{http_code}' "$url") || status=000
  [ "$status" = 200 ] && return 0
  {
    if [ "$status" = 000 ]; then
      # curl's own words: over HTTPS, an untrusted certificate looks the same.
      echo "Cannot get $url: the server did not answer ($(curl -sS -o /dev/null "$url" 2>&1 | head -n 1))."
    else
      echo "Cannot get $url: the server answered HTTP $status."
    fi
    [ "$status" = 403 ] && echo "(403: nginx's workers cannot read the served folder or a folder above it.)"
    echo "nginx's log is $dir/error.log; its last lines:"
    tail -n 5 "$dir/error.log" 2>/dev/null | sed 's/^/  /'
  } >&2
  return 1
}

case "$action" in
  start)
    shift 2
    root=$dir/www
    if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
      root=$1
      shift
    fi
    cert="" key="" mode="" origin_port=""
    while [ $# -gt 0 ]; do
      case "$1" in
        --tls)
          [ $# -ge 3 ] || usage
          [ -r "$2" ] && [ -r "$3" ] || { echo "nginx-serve.sh: cannot read $2 or $3" >&2; exit 2; }
          cert=$2 key=$3
          shift 3
          ;;
        --cache-headers) mode=headers; shift ;;
        --cache-of)
          [ $# -ge 2 ] || usage
          mode=proxy origin_port=$2
          shift 2
          ;;
        *) usage ;;
      esac
    done
    start "$root" "$cert" "$key" "$mode" "$origin_port"
    ;;
  stop) [ $# -eq 2 ] || usage; stop ;;
  check) [ $# -eq 3 ] || usage; check "$3" ;;
  *) usage ;;
esac
