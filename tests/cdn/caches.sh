#!/usr/bin/env bash
# The caches of the end-to-end test, in front of one served folder DIR/www:
# nginx's proxy_cache in front of one nginx (DIR/nginx, its origin
# DIR/origin-nginx) and Varnish in front of another (DIR/varnish, its origin
# DIR/origin-varnish), so that each origin's log shows what its cache asked
# for. Every origin sends docs/hosting.md's Cache-Control lines.
# usage: caches.sh start|stop DIR NGINX-SERVE VARNISH-SERVE
set -euo pipefail
action=$1
dir=$(realpath -m "$2")
nginx_serve=$3
varnish_serve=$4
case "$action" in
  start)
    mkdir -p "$dir/www"
    read -r origin _ < <(bash "$nginx_serve" start "$dir/origin-nginx" "$dir/www" --cache-headers)
    bash "$nginx_serve" start "$dir/nginx" --cache-of "$origin" >/dev/null
    read -r origin _ < <(bash "$nginx_serve" start "$dir/origin-varnish" "$dir/www" --cache-headers)
    bash "$varnish_serve" start "$dir/varnish" "$origin" >/dev/null
    ;;
  stop)
    bash "$varnish_serve" stop "$dir/varnish"
    for d in nginx origin-nginx origin-varnish; do bash "$nginx_serve" stop "$dir/$d"; done
    ;;
  *) echo "usage: caches.sh start|stop DIR NGINX-SERVE VARNISH-SERVE" >&2; exit 2 ;;
esac
