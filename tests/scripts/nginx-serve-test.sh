#!/usr/bin/env bash
# The nginx launcher serves a folder only its owner can read (mode 0700, as a
# clone in root's home or in a private temporary folder is), hands a file back
# byte for byte, explains a refused request and stops by its PID.
# usage: nginx-serve-test.sh LAUNCHER
set -uo pipefail
launcher=$1
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

private=$(mktemp -d)
state=$private/state
trap 'bash "$launcher" stop "$state" >/dev/null 2>&1; rm -rf "$private"' EXIT
chmod 0700 "$private"
mkdir -p "$private/www/pkg"
head -c 300000 /dev/urandom > "$private/www/pkg/data.bin"

if ! read -r port pid < <(bash "$launcher" start "$state" "$private/www"); then
  echo "FAIL: the launcher did not start nginx"
  exit 1
fi
[ "$(cat "$state/port" 2>/dev/null)" = "$port" ] || fail "port file does not hold $port"

got=$private/got.bin
code=$(curl -s -o "$got" -w '%{http_code}' "http://127.0.0.1:$port/pkg/data.bin")
[ "$code" = 200 ] || fail "a file of a 0700 folder: expected HTTP 200, got $code"
cmp -s "$private/www/pkg/data.bin" "$got" || fail "the file came back changed"
bash "$launcher" check "$state" pkg/data.bin 2>/dev/null || fail "check refused a file that is served"

said=$(bash "$launcher" check "$state" pkg/missing.bin 2>&1) && fail "check accepted a missing file"
case "$said" in
  *"http://127.0.0.1:$port/pkg/missing.bin"*"HTTP 404"*"$state/error.log"*) ;;
  *) fail "check did not name the address, the answer and the log: $said" ;;
esac

bash "$launcher" stop "$state"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "nginx (PID $pid) still runs after stop"
[ -e "$state/port" ] && fail "the port file outlived the server"

[ "$status" -eq 0 ] && echo "nginx launcher: all checks passed"
exit "$status"
