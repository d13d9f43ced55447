#!/usr/bin/env bash
# Builds Fernup for x86-64 Windows, makes a demo game folder whose update.log
# points at 127.0.0.1, publishes a demo update with nginx on a free loopback
# port and runs Fernup.exe under Wine. Without a display it runs on a private
# Xvfb, presses Update itself and saves screenshots in demo-run/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Fernup fernup_driver -j "$(nproc)" >/dev/null

demo=$root/demo-run
rm -rf "$demo"
mkdir -p "$demo/www"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  WINEPREFIX="$demo/wineprefix" wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

read -r port nginx_pid < <(bash scripts/nginx-serve.sh "$demo/www")
pids+=("$nginx_pid")
python3 scripts/make-demo.py "$demo" "http://127.0.0.1:$port/demo/"
cp build/win64/bin/Fernup.exe "$demo/game/"
echo "nginx serves the demo package at http://127.0.0.1:$port/demo/ (PID $nginx_pid)"

wine_run=$root/cmake/wine-run.sh

if [ -n "${DISPLAY:-}" ]; then
  echo "Starting Fernup.exe on $DISPLAY; close its window to end the demo."
  (cd "$demo/game" && "$wine_run" "$demo/wineprefix" Fernup.exe)
else
  read -r display_number xvfb_pid < <(bash scripts/start-xvfb.sh)
  pids+=("$xvfb_pid")
  export DISPLAY=":$display_number"
  echo "No display: running on Xvfb $DISPLAY and pressing Update automatically."
  (cd "$demo/game" && "$wine_run" "$demo/wineprefix" Fernup.exe) &
  pids+=("$!")
  # The virtual desktop is one colour around the dialog: trim it away.
  shot() {
    import -display "$DISPLAY" -window root -trim +repage "$demo/$1"
    echo "screenshot: demo-run/$1"
  }
  "$wine_run" "$demo/wineprefix" build/win64/bin/fernup-driver.exe wait UERB
  shot ready.png
  "$wine_run" "$demo/wineprefix" build/win64/bin/fernup-driver.exe press-update
  sleep 1.5
  shot updating.png
  "$wine_run" "$demo/wineprefix" build/win64/bin/fernup-driver.exe wait -ER-
  shot done.png
  "$wine_run" "$demo/wineprefix" build/win64/bin/fernup-driver.exe lines | iconv -f CP932 -t UTF-8
  "$wine_run" "$demo/wineprefix" build/win64/bin/fernup-driver.exe close
  wait "${pids[-1]}" || true
  echo "Installed files:"; (cd "$demo/game" && find . -type f ! -name '*.exe' | sort)
fi
