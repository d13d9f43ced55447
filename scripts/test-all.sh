#!/usr/bin/env bash
# Installs what is missing, builds the native, win64 and win32 configurations
# and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh

# A private X display for the tests that open windows; stopped on exit.
xvfb_pid=""
cleanup() {
  for p in native win64 win32; do
    [ -d "build/$p/wineprefix" ] && WINEPREFIX="$root/build/$p/wineprefix" wineserver -k 2>/dev/null || true
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
read -r display_number xvfb_pid < <(bash scripts/start-xvfb.sh)
export DISPLAY=":$display_number"

jobs=$(nproc)
status=0
for preset in native win64 win32; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs" || status=1
done
# Each fuzz target briefly (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer), so that a regression shows here.
echo "=== fuzz: every target for 5 s"
bash scripts/fuzz.sh all 5 || status=1
exit $status
