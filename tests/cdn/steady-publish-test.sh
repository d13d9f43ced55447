#!/usr/bin/env bash
# A release published while players keep fetching, through the caches a
# publisher puts in front of a server (nginx's proxy_cache and Varnish, each
# keeping the definition files 1 s as docs/hosting.md says): fernup-pack
# status, which fetches and judges as the program does, never refuses the
# definition and never takes two releases for one. Each cache is first made
# to hold update.qdv and MD5.txt from moments more than a second apart, so
# that the set it hands out after the publish is one of two releases for a
# while; a run that met such a set and fetched it again is the sign that the
# test saw what it is about.
# usage: steady-publish-test.sh FERNUP-PACK NGINX-SERVE VARNISH-SERVE
set -uo pipefail
pack=$1
nginx_serve=$2
varnish_serve=$3
runs=40
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

work=$(mktemp -d)
cleanup() {
  bash "$varnish_serve" stop "$work/varnish" >/dev/null 2>&1
  for d in proxy origin-n origin-v; do bash "$nginx_serve" stop "$work/$d" >/dev/null 2>&1; done
  rm -rf "$work"
}
trap cleanup EXIT

# Two releases, signed, so that update.sig is part of the set as well.
mkdir -p "$work/r101/data" "$work/r102/data" "$work/keys" "$work/www/game" "$work/game"
head -c 200000 /dev/urandom > "$work/r101/data/a.bin"
head -c 200000 /dev/urandom > "$work/r102/data/a.bin"
echo "the same in both" > "$work/r101/data/b.bin"
cp "$work/r101/data/b.bin" "$work/r102/data/b.bin"
"$pack" keygen "$work/keys/publisher" >/dev/null || fail "keygen"
for v in 101 102; do
  "$pack" build --files "$work/r$v" --out "$work/pkg$v" --title Fern --version "1.${v:1}" \
    --day 2026/12/07 --sign "$work/keys/publisher.key" >/dev/null || fail "build of 1.${v:1}"
done
"$pack" publish "$work/pkg101" "$work/www/game" >/dev/null || fail "publish of 1.01"
printf '[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=Fern\r\n' \
  > "$work/game/update.log"

read -r origin_n _ < <(bash "$nginx_serve" start "$work/origin-n" "$work/www" --cache-headers) ||
  { echo "FAIL: origin"; exit 1; }
read -r origin_v _ < <(bash "$nginx_serve" start "$work/origin-v" "$work/www" --cache-headers) ||
  { echo "FAIL: origin"; exit 1; }
read -r proxy _ < <(bash "$nginx_serve" start "$work/proxy" --cache-of "$origin_n") ||
  { echo "FAIL: nginx cache"; exit 1; }
read -r varnish _ < <(bash "$varnish_serve" start "$work/varnish" "$origin_v") ||
  { echo "FAIL: varnish"; exit 1; }
caches=("nginx:$proxy" "varnish:$varnish")

# Each cache takes update.qdv, then MD5.txt a second later, both of 1.01.
for c in "${caches[@]}"; do curl -s -o /dev/null "http://127.0.0.1:${c#*:}/game/update.qdv"; done
sleep 1.05
for c in "${caches[@]}"; do curl -s -o /dev/null "http://127.0.0.1:${c#*:}/game/MD5.txt"; done
"$pack" publish "$work/pkg102" "$work/www/game" >/dev/null || fail "publish of 1.02"

# Players keep fetching through both caches at once.
for c in "${caches[@]}"; do
  (
    name=${c%%:*}
    for i in $(seq 1 "$runs"); do
      "$pack" status "$work/game" "http://127.0.0.1:${c#*:}/game/" \
        >"$work/$name.$i.out" 2>"$work/$name.$i.err"
      echo $? >"$work/$name.$i.status"
    done
  ) &
done
wait

for c in "${caches[@]}"; do
  name=${c%%:*}
  seen=101 again=0 last=""
  for i in $(seq 1 "$runs"); do
    out=$(cat "$work/$name.$i.out")
    case "$out" in
      *"1.00 -> 1.01"*"新しい修正ファイルがあります。") version=101 ;;
      *"1.00 -> 1.02"*"新しい修正ファイルがあります。") version=102 ;;
      *) fail "$name, run $i: not the offer of one release: $out $(cat "$work/$name.$i.err")"; continue ;;
    esac
    [ "$(cat "$work/$name.$i.status")" = 0 ] || fail "$name, run $i: status $(cat "$work/$name.$i.status")"
    [ "$version" -ge "$seen" ] || fail "$name, run $i: 1.01 again after 1.02"
    seen=$version last=$version
    grep -q "of two releases; fetched again" "$work/$name.$i.err" && again=$((again + 1))
  done
  [ "$last" = 102 ] || fail "$name: the last run was not offered 1.02"
  [ "$again" -ge 1 ] || fail "$name: no run met a set of two releases; the test saw nothing"
  echo "$name: $runs runs, $again met a set of two releases and fetched it again, none refused"
done
[ "$status" -eq 0 ] && echo "steady publish: all checks passed"
exit "$status"
