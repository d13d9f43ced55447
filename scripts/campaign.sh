#!/usr/bin/env bash
# Runs the fault campaign of a Windows build under Wine: RUNS complete updates
# in a row, each with one fault, and prints the table of faults, runs and
# invariant violations. The build must exist (cmake --build BUILD_DIR).
# usage: scripts/campaign.sh BUILD_DIR RUNS [SEED]
# Needs an X display (DISPLAY); exits non-zero when any run broke an invariant.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: scripts/campaign.sh BUILD_DIR RUNS [SEED]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
program=$build/tests/campaign/fault_campaign.exe
[ -f "$program" ] || { echo "campaign.sh: $program not built" >&2; exit 2; }
cmake/wine-run.sh "$build/wineprefix" "$program" --runs "$2" --seed "${3:-20261207}" |
  iconv -f CP932 -t UTF-8
