#!/usr/bin/env bash
# Runs the fault campaign of a Windows build under Wine: RUNS complete updates
# in a row, each with one fault, and prints the table of faults, runs and
# invariant violations. With --kills it runs the kill campaign instead: the
# build's Fernup.exe on an update of a few dozen files, killed RUNS times at a
# moment of the fetch or install phase, each update then run to its end.
# The build must exist (cmake --build BUILD_DIR).
# usage: scripts/campaign.sh [--kills] BUILD_DIR RUNS [SEED]
# Needs an X display (DISPLAY); exits non-zero when any run broke an invariant.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=--runs
if [ "${1:-}" = "--kills" ]; then
  mode=--kills
  shift
fi
if [ $# -lt 2 ]; then
  echo "usage: scripts/campaign.sh [--kills] BUILD_DIR RUNS [SEED]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
program=$build/tests/campaign/fault_campaign.exe
[ -f "$program" ] || { echo "campaign.sh: $program not built" >&2; exit 2; }
cmake/wine-run.sh "$build/wineprefix" "$program" "$mode" "$2" --seed "${3:-20261207}" |
  iconv -f CP932 -t UTF-8
