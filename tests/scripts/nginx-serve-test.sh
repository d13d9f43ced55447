#!/usr/bin/env bash
# The nginx launcher serves a folder only its owner can read (mode 0700, as a
# clone in root's home or in a private temporary folder is), hands a file back
# byte for byte, explains a refused request and stops by its PID; with --tls
# it serves HTTPS only, under the certificate it is given.
# usage: nginx-serve-test.sh LAUNCHER CERT-MAKER
set -uo pipefail
launcher=$1
cert_maker=$2
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

private=$(mktemp -d)
state=$private/state
trap 'bash "$launcher" stop "$private/cache" >/dev/null 2>&1; bash "$launcher" stop "$state" >/dev/null 2>&1; rm -rf "$private"' EXIT
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

# A caching proxy in front of a server that sends docs/hosting.md's lines: it
# keeps what the server allows, whatever the client asks, and keys on the
# query string.
mkdir -p "$private/www/files/0123456789abcdef"
echo one > "$private/www/update.qdv"
echo two > "$private/www/files/0123456789abcdef/a.bin"
if read -r origin _ < <(bash "$launcher" start "$state" "$private/www" --cache-headers) &&
    read -r cache _ < <(bash "$launcher" start "$private/cache" --cache-of "$origin"); then
  header() {
    curl -s -D - -o /dev/null -H "Cache-Control: no-cache" "http://127.0.0.1:$cache/$1" |
      tr -d '\r' | sed -n "s/^$2: //Ip"
  }
  [ "$(header update.qdv Cache-Control)" = "public, max-age=1" ] || fail "update.qdv not kept 1 s"
  [ "$(header files/0123456789abcdef/a.bin Cache-Control)" = "public, max-age=31536000, immutable" ] ||
    fail "a digest's file not kept a year"
  [ "$(header pkg/data.bin Cache-Control)" = "public, max-age=86400" ] || fail "other files not kept a day"
  [ "$(header files/0123456789abcdef/a.bin X-Cache)" = HIT ] || fail "the proxy did not keep a file"
  [ "$(header "files/0123456789abcdef/a.bin?md5=x" X-Cache)" = MISS ] ||
    fail "the proxy did not key on the query string"
  asked=$(grep -c "GET /files/0123456789abcdef/a.bin " "$state/access.log")
  [ "$asked" = 1 ] || fail "the server was asked $asked times for a kept file"
else
  fail "the launcher did not start a server and a cache in front of it"
fi
bash "$launcher" stop "$private/cache"
bash "$launcher" stop "$state"

# HTTPS, with a certificate from a CA of the test's own.
certs=$private/certs
bash "$cert_maker" "$certs" || fail "the certificates could not be made"
if ! read -r port pid < <(bash "$launcher" start "$state" "$private/www" \
    --tls "$certs/good.pem" "$certs/good.key"); then
  fail "the launcher did not start nginx with --tls"
else
  code=$(curl -s --cacert "$certs/ca.pem" -o "$got" -w '%{http_code}' \
    "https://127.0.0.1:$port/pkg/data.bin")
  [ "$code" = 200 ] || fail "over HTTPS: expected HTTP 200, got $code"
  cmp -s "$private/www/pkg/data.bin" "$got" || fail "the file came back changed over HTTPS"
  code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/pkg/data.bin")
  [ "$code" = 200 ] && fail "the HTTPS port served plain HTTP too"
  CURL_CA_BUNDLE=$certs/ca.pem bash "$launcher" check "$state" pkg/data.bin 2>/dev/null ||
    fail "check refused a file served over HTTPS"
  said=$(CURL_CA_BUNDLE=$certs/stranger-ca.pem bash "$launcher" check "$state" pkg/data.bin 2>&1) &&
    fail "check trusted a certificate from an unknown CA"
  case "$said" in
    *"https://127.0.0.1:$port/pkg/data.bin"*"certificate"*) ;;
    *) fail "check did not say the certificate was not trusted: $said" ;;
  esac
  bash "$launcher" stop "$state"
fi
bash "$launcher" start "$state" "$private/www" --tls "$certs/missing.pem" "$certs/good.key" \
  >/dev/null 2>&1 && fail "the launcher started with a certificate that is not there"

[ "$status" -eq 0 ] && echo "nginx launcher: all checks passed"
exit "$status"
