#!/usr/bin/env bash
# Runs every benchmark of the Windows program under Wine against nginx on
# loopback and prints one summary table (with the machine it ran on) and the
# detail tables behind it, also kept in BUILD/bench-results.md. Every reference
# is measured in the same run:
#   - an online and an offline update of packages that fernup-pack builds from
#     a generated release (one large file, a hundred medium and four hundred
#     small ones, older copies installed),
#     each phase timed by bench/win/UpdateBench.cpp, beside the floor that the
#     download's pacing sets and a plain pipeline over the same files (curl
#     into a folder, md5sum -c, cp over the older copies, md5sum -c; each
#     stage the median of three runs);
#   - the online update of the same package into game folders of three kinds:
#     every file old (and of another size), 1% of the files old, none old (a
#     repair), with the requests and bytes that nginx's log shows it served;
#     with BASELINE=<git revision>, that revision's program updates the folder
#     of older copies too, for the time of a full update in the same run;
#   - the main dialog with 999 file rows: timer ticks and FillFileList;
#   - the process's memory while the dialog runs the large update.
# usage: scripts/bench.sh
# environment: PRESET (win64 or win32; default win64), BENCH_BUILD (default
# build/bench-PRESET), LARGE_MIB (size of the large file; default 64),
# SIGNED=1 (each check also compares the SHA-256 that update.sig binds, as a
# Fernup.exe built with keys does).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$FERNUP_ROOT"
root=$FERNUP_ROOT
preset=${PRESET:-win64}
build=$root/${BENCH_BUILD:-build/bench-$preset}
large_mib=${LARGE_MIB:-64}
signed=()
[ "${SIGNED:-0}" = 1 ] && signed=(--signed 1)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

bash scripts/install-deps.sh

data=$build/bench-data
nginx_dir=$data/nginx
use_private_display if-none
stop_wine_on_exit "$build/wineprefix"
on_exit bash scripts/nginx-serve.sh stop "$nginx_dir"

echo "=== build ($preset, $build)" >&2
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" --target update_bench dialog_bench -j 2 >/dev/null
# The packages are built by the publisher's tool, from the release preset.
build_pack_tool
pack_tool=$PACK_TOOL

echo "=== package and server" >&2
# A server left by an interrupted run would outlive its folder.
bash scripts/nginx-serve.sh stop "$nginx_dir" >/dev/null 2>&1 || true
rm -rf "$data"
mkdir -p "$data"
bash scripts/nginx-serve.sh start "$nginx_dir" >/dev/null
port=$(cat "$nginx_dir/port")
base="http://127.0.0.1:$port/pkg/"
pkg=$nginx_dir/www/pkg
offline=$data/offline
release=$data/release
lists=$data/lists
python3 bench/make-package.py "$release" "$data/game-old" "$base" --large-mib "$large_mib" \
  --installed --lists "$lists" >&2
printf 'benchmark package\r\n' > "$data/readme.txt"
# The same release as the online package (served by nginx) and the offline one.
publish() {
  "$pack_tool" build --files "$1" --out "$2" --title Quill --version 1.01 --day 2024/06/01 \
    --readme "$data/readme.txt" "${@:3}" >&2
}
publish "$release" "$pkg"
publish "$release" "$offline" --offline
# The reference fetches each file from the address the definition lists (a
# folder of its digest), into a file of its name.
tr -d '\r' < "$pkg/update.qdv" | sed -n 's/^FILE[0-9]*=\([^,]*\),\([^,]*\),.*/\1 \2/p' |
  while read -r source target; do
    printf 'url = "%s%s"\noutput = "%s"\n' "$base" "$source" "${target##*\\}"
  done > "$lists/urls.txt"
# Every figure below is worthless if the server cannot hand out the package.
bash scripts/nginx-serve.sh check "$nginx_dir" pkg/update.qdv
# Nothing listens on port 1: the dialog's fetch fails at once and leaves Browse.
python3 bench/make-package.py "$data/rows-release" "$data/game-rows" "http://127.0.0.1:1/" \
  --rows-only 999 >&2
publish "$data/rows-release" "$data/rows" --offline

# Requests and bytes that nginx served to the update task after a byte offset
# of its access log (the combined format: the body's bytes are the tenth
# field, the agent last). update_bench's own look at WinINet, which fetches
# the largest file once as "FernupBench" before the update starts, is left out.
served() {
  tail -c +$(($1 + 1)) "$nginx_dir/access.log" |
    awk '/"FernupTask"$/ { n++; b += $10 } END { printf "%d %d", n, b }'
}
log_size() { stat -c %s "$nginx_dir/access.log"; }
# A Windows path through Wine's Z: drive.
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }
# Runs a benchmark program; its output is Shift-JIS with CR LF line ends.
run_bench() {
  local program=$1
  shift
  cmake/wine-run.sh "$build/wineprefix" "$build/bin/$program.exe" "$@" | iconv -f CP932 -t UTF-8 |
    tr -d '\r'
}
# Wall-clock seconds of a command, written to the variable named first; dirty
# pages are written out before, so every measured stage starts alike.
timed() {
  local into=$1 start end
  shift
  sync
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  printf -v "$into" '%s' "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')"
}
# The median of three timed runs: the reference stages take a fraction of a
# second, so one stray load on the machine would otherwise decide the ratio.
# Later runs of cp write over the copies of the first, as much work as the
# first run's writing over the older files.
timed3() {
  local into=$1 a b c
  shift
  timed a "$@"
  timed b "$@"
  timed c "$@"
  printf -v "$into" '%s' "$(printf '%s\n' "$a" "$b" "$c" | sort -n | sed -n 2p)"
}
reset_game() {
  rm -rf "$data/game"
  cp -a "$data/game-old" "$data/game"
}
# The reference's installed copies: the older files in one folder.
reset_reference() {
  rm -rf "$data/ref"
  mkdir -p "$data/ref/download" "$data/ref/installed"
  find "$data/game-old" -name '*.bin' -exec cp {} "$data/ref/installed/" \;
}
names() { awk '{ print $2 }' "$lists/sums.txt"; }

results=$data/results.txt
: > "$results"
# The Wine prefix is made on first use, before anything is timed.
cmake/wine-run.sh "$build/wineprefix" cmd.exe /c exit >/dev/null 2>&1 || true

echo "=== online update: reference pipeline" >&2
reset_reference
timed3 curl_s sh -c "cd '$data/ref/download' && curl -s --fail -K '$lists/urls.txt'"
timed3 md5a_s sh -c "cd '$data/ref/download' && md5sum -c --quiet '$lists/sums.txt'"
timed3 cp_s sh -c "cd '$data/ref/download' && cp $(names | tr '\n' ' ') '$data/ref/installed/'"
timed3 md5b_s sh -c "cd '$data/ref/installed' && md5sum -c --quiet '$lists/sums.txt'"
echo "=== online update: ours" >&2
reset_game
sync
online_offset=$(log_size)
run_bench update_bench --definition "$(winpath "$pkg/update.qdv")" --game "$(winpath "$data/game")\\" \
  --base "$base" --curl "$curl_s" --md5a "$md5a_s" --cp "$cp_s" --md5b "$md5b_s" "${signed[@]}" >> "$results"
online_total=$(awk -F'|' '/total, from Start to the last line/ { gsub(/ /, "", $3); print $3; exit }' "$results")
online_served=$(served "$online_offset")

echo "=== offline update: reference pipeline" >&2
reset_reference
timed3 md5a_s sh -c "cd '$offline' && md5sum -c --quiet '$lists/sums.txt'"
timed3 cp_s sh -c "cd '$offline' && cp $(names | tr '\n' ' ') '$data/ref/installed/'"
timed3 md5b_s sh -c "cd '$data/ref/installed' && md5sum -c --quiet '$lists/sums.txt'"
echo "=== offline update: ours" >&2
reset_game
sync
run_bench update_bench --definition "$(winpath "$offline/update.qdv")" --game "$(winpath "$data/game")\\" \
  --offline "$(winpath "$offline")\\" --md5a "$md5a_s" --cp "$cp_s" --md5b "$md5b_s" "${signed[@]}" >> "$results"

# Game folders of three kinds, from the older copies and the package: every
# file old (each older copy made one byte longer, so no size matches), the
# files whose position in the definition is a multiple of 100 old and the
# rest as published (5 of 501), or every file as published.
make_game() {
  local kind=$1 dest=$2 n=0 first target size digest rel
  rm -rf "$dest"
  cp -a "$data/game-old" "$dest"
  while IFS=, read -r first target size digest; do
    n=$((n + 1))
    rel=${target//\\//}
    case $kind in
      all-old) printf x >> "$dest/$rel" ;;
      one-percent) [ $((n % 100)) -eq 0 ] || cp "$release/$rel" "$dest/$rel" ;;
      none-old) cp "$release/$rel" "$dest/$rel" ;;
    esac
  done < <(grep '^FILE' "$pkg/update.qdv" | tr -d '\r')
}

# One online update of the folder; prints seconds, requests and bytes.
online_kind() {
  local game=$1 program=${2:-$build/bin/update_bench.exe} label=$3 offset out
  sync
  offset=$(log_size)
  out=$(cmake/wine-run.sh "$build/wineprefix" "$program" --definition "$(winpath "$pkg/update.qdv")" \
    --game "$(winpath "$game")\\" --base "$base" "${signed[@]}" | iconv -f CP932 -t UTF-8 | tr -d '\r')
  printf '%s\n' "$out" > "$data/online-$label.md"
  printf '%s %s\n' "$(printf '%s\n' "$out" | awk -F'|' '/total, from Start to the last line/ { gsub(/ /, "", $3); print $3 }')" \
    "$(served "$offset")"
}

if [ -n "${BASELINE:-}" ]; then
  echo "=== baseline program ($BASELINE)" >&2
  rm -rf "$build/baseline-src"
  mkdir -p "$build/baseline-src"
  git archive "$BASELINE" | tar -x -C "$build/baseline-src"
  cmake -S "$build/baseline-src" --preset "$preset" -B "$build/baseline" >/dev/null
  cmake --build "$build/baseline" --target update_bench -j 2 >/dev/null
fi

echo "=== online update into game folders of three kinds" >&2
kinds=$data/kinds.txt
: > "$kinds"
for kind in all-old one-percent none-old; do
  make_game "$kind" "$data/game"
  echo "$kind $(online_kind "$data/game" "" "$kind")" >> "$kinds"
done
echo "same-size $online_total $online_served" >> "$kinds"
if [ -n "${BASELINE:-}" ]; then
  reset_game
  echo "baseline $(online_kind "$data/game" "$build/baseline/bin/update_bench.exe" baseline)" >> "$kinds"
fi
{
  echo
  echo "#### Online update by game folder: 501 files, what nginx served"
  echo
  echo "| game folder | time (s) | requests | bytes served | of the full update's time |"
  echo "|---|---:|---:|---:|---:|"
  awk -v baseline="${BASELINE:-}" '
    { seconds[$1] = $2; requests[$1] = $3; bytes[$1] = $4 }
    END {
      names["all-old"] = "every file old, of another size"
      names["one-percent"] = "1% of the files old (5 of 501)"
      names["none-old"] = "no file old (a repair)"
      names["same-size"] = "every file old, of the same size (each read before its download)"
      names["baseline"] = "every file old, the program of " baseline " (no file skipped)"
      full = ("baseline" in seconds) ? seconds["baseline"] : seconds["same-size"]
      split("all-old one-percent none-old same-size baseline", order, " ")
      for (i = 1; i <= 5; i++) {
        k = order[i]
        if (!(k in seconds)) continue
        printf "| %s | %.2f | %d | %d | %.1f%% |\n", names[k], seconds[k], requests[k], bytes[k],
          100 * seconds[k] / full
      }
    }' "$kinds"
  echo
  echo "The last column is against the update of every older copy by the baseline program when"
  echo "BASELINE was given, else by this one."
} >> "$results"

echo "=== dialog with 999 rows" >&2
run_bench dialog_bench --ticks --game "$(winpath "$data/game-rows")\\" \
  --definition "$(winpath "$data/rows/update.qdv")" >> "$results"

echo "=== memory while the dialog runs the online update" >&2
reset_game
sync
run_bench dialog_bench --update --game "$(winpath "$data/game")\\" >> "$results"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
  echo "### Benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "Machine: $cpu, $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB RAM;" \
    "$(uname -sr); $(/usr/lib/wine/wine64 --version); $preset build ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt"));" \
    "load average before the run $load_before."
  echo "Package: $(grep -c '^FILE' "$pkg/update.qdv") files, $(du -sm --apparent-size "$pkg" | cut -f1) MiB, older copies installed."
  echo
  echo "| measure | ours | reference | ratio | goal | met |"
  echo "|---|---:|---:|---:|---|---|"
  grep '^@summary|' "$results" | sed 's/^@summary//; s/$/|/; s/|/ | /g; s/^ //; s/ $//; s/  */ /g'
  grep -v '^@summary|' "$results"
} | tee "$build/bench-results.md"
