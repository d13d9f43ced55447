#!/usr/bin/env bash
# Hashing throughput of fernup-pack beside md5sum over the same files, in one
# run: builds the tool natively at -O2 without sanitizers (the release preset, in build/release),
# writes COUNT files of random bytes, TOTAL_MIB in all, reads them once so both
# programs find them in the page cache, then times each program three times.
# usage: scripts/bench-pack.sh [TOTAL_MIB] [COUNT]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$FERNUP_ROOT"
total_mib=${1:-1024}
count=${2:-8}

build_pack_tool
tool=$PACK_TOOL

data=$(mktemp -d)
on_exit rm -rf "$data"
each=$((total_mib * 1048576 / count))
for i in $(seq 1 "$count"); do
  head -c "$each" /dev/urandom > "$data/part$i.bin"
done
files=("$data"/part*.bin)
cat "${files[@]}" > /dev/null
bytes=$((each * count))

# Runs a command with its output in $data/out.txt; its time in $seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" > "$data/out.txt"
  end=$(date +%s.%N)
  seconds=$(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }')
}

rate() {
  awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%7.0f MB/s", b / s / 1e6 }'
}

echo "$count files, $((bytes / 1048576)) MiB, $(nproc) cores, page cache warm"
printf '%-34s %8s %12s\n' "program" "seconds" "throughput"
for round in 1 2 3; do
  timed md5sum "${files[@]}"
  mv "$data/out.txt" "$data/reference.txt"
  printf '%-34s %8s %12s\n' "md5sum (round $round)" "$seconds" "$(rate "$seconds")"
  timed "$tool" digest --threads 1 "${files[@]}"
  cmp -s "$data/out.txt" "$data/reference.txt" || { echo "digests differ from md5sum" >&2; exit 1; }
  printf '%-34s %8s %12s\n' "fernup-pack digest, 1 thread" "$seconds" "$(rate "$seconds")"
  timed "$tool" digest "${files[@]}"
  cmp -s "$data/out.txt" "$data/reference.txt" || { echo "digests differ from md5sum" >&2; exit 1; }
  printf '%-34s %8s %12s\n' "fernup-pack digest, all cores" "$seconds" "$(rate "$seconds")"
done
