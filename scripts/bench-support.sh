#!/usr/bin/env bash
# Builds the support library's benchmarks natively at -O2 without sanitizers
# (the release preset, in build/release) and runs them: CMd5 against OpenSSL's MD5 on 16 KiB and
# 1 MiB with the ratio, and GetValue on a definition of 999 files.
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=Md5).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release --target support_bench -j 2
# Repetitions interleaved at random, so that load from elsewhere on the
# machine falls on both implementations alike.
build/release/bench/support_bench \
  --benchmark_repetitions=7 \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_color=auto \
  "$@"
