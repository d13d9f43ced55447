# What the scripts share; sourced, never run. Sets FERNUP_ROOT to the
# checkout and cleans up, when the script exits, whatever was registered
# with on_exit (the last first).
# shellcheck shell=bash

FERNUP_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
_fernup_on_exit=()

# Registers a command (its words, quoted as given) to run on exit.
on_exit() {
  _fernup_on_exit+=("$(printf '%q ' "$@")")
}

_fernup_exit() {
  local i
  for ((i = ${#_fernup_on_exit[@]} - 1; i >= 0; i--)); do
    eval "${_fernup_on_exit[i]}" >/dev/null 2>&1 || true
  done
}
trap _fernup_exit EXIT

# Ends the Wine prefix's server, and every program still running in it, on
# exit.
stop_wine_on_exit() {
  on_exit sh -c '[ -d "$1" ] && WINEPREFIX="$1" wineserver -k' sh "$1"
}

# Ends the process whose id the file holds (one this project started),
# waits up to 5 s for it to go, and removes the file.
end_process_in() {
  [ -f "$1" ] || return 0
  local pid
  pid=$(cat "$1")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$1"
}

# A private Xvfb as DISPLAY, stopped on exit; with "if-none", only when
# there is no display yet.
use_private_display() {
  if [ "${1:-}" = if-none ] && [ -n "${DISPLAY:-}" ]; then
    return 0
  fi
  local number pid
  read -r number pid < <(bash "$FERNUP_ROOT/scripts/start-xvfb.sh")
  export DISPLAY=":$number"
  on_exit kill "$pid"
}

# fernup-pack built natively at -O2 without sanitizers (the release preset,
# in build/release); its path in PACK_TOOL.
build_pack_tool() {
  cmake --preset release >/dev/null
  cmake --build --preset release --target fernup_pack -j "$(nproc)" >/dev/null
  PACK_TOOL=$FERNUP_ROOT/build/release/bin/fernup-pack
}
