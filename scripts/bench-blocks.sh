#!/usr/bin/env bash
# Block updates of one large archive under Wine against nginx on loopback,
# side by side with a full download of the same file and with Debian's zsync
# on the same files from the same nginx. One table, also kept in
# BUILD/bench-blocks.md:
#   - a 256 MiB archive (bench/make-blocks.py), its previous version installed,
#     in four cases: (a) 64 scattered 4 KiB edits, (b) 1 KiB inserted near the
#     start, (c) 4 MiB appended, (d) entirely new contents;
#   - for each, the update by bench/win/UpdateBench.cpp with the block index
#     that fernup-pack build published, and again with the index taken away
#     (a full download): time of the update, requests and bytes that nginx
#     served to it (its log, the index included);
#   - zsyncmake's control file for the same new archive and zsync fetching it
#     from nginx with the installed copy as its seed: bytes and requests served
#     (the control file included);
#   - the matcher's scan natively (bench/BlockScanBench.cpp), and under Wine
#     the scan of the installed copy beside the check's own reads of it
#     (bench/win/BlockScanBench.cpp).
# usage: scripts/bench-blocks.sh
# environment: PRESET (win64 or win32; default win64), BENCH_BUILD (default
# build/bench-PRESET), ARCHIVE_MIB (default 256).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$FERNUP_ROOT"
root=$FERNUP_ROOT
preset=${PRESET:-win64}
build=$root/${BENCH_BUILD:-build/bench-$preset}
mib=${ARCHIVE_MIB:-256}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

bash scripts/install-deps.sh

data=$build/blocks-data
nginx_dir=$data/nginx
use_private_display if-none
stop_wine_on_exit "$build/wineprefix"
on_exit bash scripts/nginx-serve.sh stop "$nginx_dir"

echo "=== build ($preset, $build)" >&2
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" --target update_bench block_scan_bench -j 2 >/dev/null
build_pack_tool
pack_tool=$PACK_TOOL
cmake --build --preset release --target block_scan_bench -j 2 >/dev/null

echo "=== releases and server" >&2
bash scripts/nginx-serve.sh stop "$nginx_dir" >/dev/null 2>&1 || true
rm -rf "$data"
mkdir -p "$data"
bash scripts/nginx-serve.sh start "$nginx_dir" >/dev/null
port=$(cat "$nginx_dir/port")
www=$nginx_dir/www
python3 bench/make-blocks.py "$data/releases" --mib "$mib" >&2
printf 'benchmark package\r\n' > "$data/readme.txt"
cases=(a b c d)
# The archive's address under a case's package, as its update.qdv lists it
# (fernup-pack build puts each file at an address its bytes give).
address_of() { grep -a '^FILE001=' "$www/$1/update.qdv" | tr -d '\r' | cut -d= -f2 | cut -d, -f1; }
for c in "${cases[@]}"; do
  "$pack_tool" build --files "$data/releases/$c" --out "$www/$c" --title Quill --version 1.01 \
    --day 2024/06/01 --readme "$data/readme.txt" >&2
  zsyncmake -u "http://127.0.0.1:$port/$c/$(address_of "$c")" -o "$www/$c/archive.pak.zsync" \
    "$data/releases/$c/data/archive.pak" >&2
done
bash scripts/nginx-serve.sh check "$nginx_dir" a/update.qdv

# Requests and bytes that nginx served to an agent after a byte offset of its
# access log (the combined format: the body's bytes are the tenth field, the
# agent last).
served() {
  tail -c +$(($1 + 1)) "$nginx_dir/access.log" |
    awk -v agent="$2" 'index($0, "\"" agent) { n++; b += $10 } END { printf "%d %d", n, b }'
}
log_size() { stat -c %s "$nginx_dir/access.log"; }
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }
reset_game() {
  rm -rf "$data/game"
  mkdir -p "$data/game/data"
  cp "$data/releases/old/data/archive.pak" "$data/game/data/"
  printf '[GAME_UPDATE]\r\nURL=http://127.0.0.1:%s/%s/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\nUPDATE_DAY=2024/01/01\r\nUPDATE_TITLE=Quill\r\n' \
    "$port" "$1" > "$data/game/update.log"
  sync
}
# One update of case $1 by update_bench; prints seconds, requests, bytes.
update() {
  local c=$1 offset out seconds
  reset_game "$c"
  offset=$(log_size)
  out=$(cmake/wine-run.sh "$build/wineprefix" "$build/bin/update_bench.exe" \
    --definition "$(winpath "$www/$c/update.qdv")" --game "$(winpath "$data/game")\\" \
    --base "http://127.0.0.1:$port/$c/" | iconv -f CP932 -t UTF-8 | tr -d '\r')
  seconds=$(printf '%s\n' "$out" | awk -F'|' '/total, from Start to the last line/ { gsub(/ /, "", $3); print $3; exit }')
  cmp -s "$data/game/data/archive.pak" "$data/releases/$c/data/archive.pak" ||
    { echo "bench-blocks.sh: case $c: the installed archive is not the release's" >&2; exit 1; }
  printf '%s %s\n' "$seconds" "$(served "$offset" FernupTask)"
}
# zsync of case $1 with the installed copy as its seed; prints seconds,
# requests, bytes.
zsync_case() {
  local c=$1 offset start end
  rm -rf "$data/zsync"
  mkdir -p "$data/zsync"
  offset=$(log_size)
  start=$(date +%s.%N)
  (cd "$data/zsync" && zsync -q -i "$data/releases/old/data/archive.pak" -o archive.pak \
    "http://127.0.0.1:$port/$c/archive.pak.zsync" >/dev/null 2>&1)
  end=$(date +%s.%N)
  cmp -s "$data/zsync/archive.pak" "$data/releases/$c/data/archive.pak" ||
    { echo "bench-blocks.sh: case $c: zsync did not make the release's archive" >&2; exit 1; }
  printf '%s %s\n' "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')" \
    "$(served "$offset" zsync)"
}

cmake/wine-run.sh "$build/wineprefix" cmd.exe /c exit >/dev/null 2>&1 || true
results=$data/results.txt
: > "$results"
for c in "${cases[@]}"; do
  echo "=== case $c: blocks" >&2
  echo "$c blocks $(update "$c")" >> "$results"
  echo "=== case $c: full download (index taken away)" >&2
  mv "$www/$c/$(address_of "$c").fbi" "$data/index-$c"
  echo "$c full $(update "$c")" >> "$results"
  mv "$data/index-$c" "$www/$c/$(address_of "$c").fbi"
  echo "=== case $c: zsync" >&2
  echo "$c zsync $(zsync_case "$c")" >> "$results"
done

echo "=== scans" >&2
native_scan=$("$root/build/release/bench/block_scan_bench" "$mib" 3)
reset_game a
wine_scan=$(for c in a d; do
  printf '(%s) ' "$c"
  cmake/wine-run.sh "$build/wineprefix" "$build/bin/block_scan_bench.exe" \
    "$(winpath "$data/game/data/archive.pak")" "$(winpath "$www/$c/$(address_of "$c").fbi")" |
    tr -d '\r'
done)

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
  echo "### Block updates, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "Machine: $cpu, $(nproc) cores; $(uname -sr); $(/usr/lib/wine/wine64 --version); $preset build;" \
    "load average before the run $load_before. Archive: $mib MiB, its previous version installed."
  echo
  echo "| case | file bytes | blocks: bytes (% of file) | requests | time (s) | full download: bytes | requests | time (s) | blocks' time / full | zsync: bytes (% of file) | requests | blocks' bytes / zsync's |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  for c in "${cases[@]}"; do
    size=$(stat -c %s "$data/releases/$c/data/archive.pak")
    awk -v c="$c" -v size="$size" '
      $1 == c { t[$2] = $3; n[$2] = $4; b[$2] = $5 }
      END {
        names["a"] = "(a) 64 scattered 4 KiB edits"; names["b"] = "(b) 1 KiB inserted near the start"
        names["c"] = "(c) 4 MiB appended"; names["d"] = "(d) entirely new contents"
        printf "| %s | %d | %d (%.2f%%) | %d | %.2f | %d | %d | %.2f | %.1f%% | %d (%.2f%%) | %d | %.2f |\n",
          names[c], size, b["blocks"], 100 * b["blocks"] / size, n["blocks"], t["blocks"],
          b["full"], n["full"], t["full"], 100 * t["blocks"] / t["full"],
          b["zsync"], 100 * b["zsync"] / size, n["zsync"], b["blocks"] / b["zsync"]
      }' "$results"
  done
  echo
  echo "Bytes are what nginx served, the block index (blocks) and the control file (zsync) included;"
  echo "the update's time runs from the task's start to its last line (download, checks, install, record)."
  echo
  echo "Scan natively (block_scan_bench, $mib MiB in memory):"
  echo
  printf '%s\n' "$native_scan" | sed 's/^/    /'
  echo
  echo "Under Wine, the installed copy read as the checks read it, against the index of case (a)"
  echo "(the older version of the file) and of case (d) (nothing in common):"
  echo
  printf '%s\n' "$wine_scan" | sed 's/^/    /'
} | tee "$build/bench-blocks.md"
