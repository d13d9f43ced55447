#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build/fuzz and runs one target, or all of
# them one after the other, for the given number of seconds each.
# usage: scripts/fuzz.sh TARGET|all SECONDS
#   targets: profile_text definition_check check_list format_text md5 signature_text
#            block_index
# New inputs go to build/fuzz/corpus/TARGET (fuzz/corpus/TARGET holds the
# seeds and is only read); an input that breaks a target is kept in
# build/fuzz/artifacts/TARGET/. Exits non-zero when any target fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

targets=(profile_text definition_check check_list format_text md5 signature_text block_index)
if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh TARGET|all SECONDS (targets: ${targets[*]})" >&2
  exit 2
fi
if [ "$1" != all ]; then
  case " ${targets[*]} " in
  *" $1 "*) targets=("$1") ;;
  *) echo "fuzz.sh: unknown target '$1' (targets: ${targets[*]})" >&2; exit 2 ;;
  esac
fi
seconds=$2

build=$root/build/fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 >/dev/null

status=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  log=$build/$target.log
  mkdir -p "$corpus" "$artifacts"
  dict=()
  case $target in
  profile_text | definition_check | check_list | signature_text) dict=(-dict="$root/fuzz/dict/profile.dict") ;;
  esac
  set +e
  "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "${dict[@]}" \
    "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1
  result=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crashes=$(find "$artifacts" -type f | wc -l)
  units=$(find "$corpus" -type f | wc -l)
  if [ $result -eq 0 ]; then
    echo "$target: ${runs:-?} executions in ${seconds} s, corpus $units inputs, 0 failures"
  else
    status=1
    echo "$target: FAILED after ${runs:-?} executions (exit $result); inputs kept: $crashes in $artifacts"
    grep -m1 -A12 -E 'ERROR: |expected:|runtime error' "$log" || tail -20 "$log"
  fi
done
exit $status
