#!/usr/bin/env bash
# ctest fixture: "start DIR" serves DIR/www with nginx on a free loopback port
# and writes the port to DIR/port; "stop DIR" stops that nginx by its PID.
set -euo pipefail
action=$1
dir=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
case "$action" in
  start)
    mkdir -p "$dir/www"
    read -r port pid < <(bash "$here/scripts/nginx-serve.sh" "$dir/www")
    echo "$port" > "$dir/port"
    echo "$pid" > "$dir/pid"
    ;;
  stop)
    if [ -f "$dir/pid" ]; then
      kill "$(cat "$dir/pid")" 2>/dev/null || true
      rm -f "$dir/pid" "$dir/port"
    fi
    ;;
esac
