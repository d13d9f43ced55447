#!/bin/sh
# Runs a Windows program under Wine in the given prefix, with the Japanese
# ANSI code page (932) in force. Makes the prefix on first use.
# usage: wine-run.sh PREFIX PROGRAM [ARGS...]
set -e
prefix=$1
shift
export WINEPREFIX="$prefix"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run.sh: no X display (DISPLAY is empty); start Xvfb first" >&2
  exit 1
fi
# Debian's wine wrapper starts the 32-bit loader whenever wine32 is installed.
# On a machine that runs 64-bit user code only, that loader cannot start at
# all, so there the 64-bit loader runs (64-bit) programs directly.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine=wine
else
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      $wine wineboot -i >/dev/null 2>&1
      # A virtual desktop acts as the window manager that Xvfb lacks: without
      # one Wine waits about 2 s whenever a top-level window is hidden, and
      # draws no title bars.
      $wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
      $wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f \
        >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$prefix.lock"
fi
# Keep the server alive between the test programs of one run (warm starts),
# and let it end by itself shortly after the last one. The prefix's service
# processes outlive the program that starts them and keep its output open, so
# a throwaway program starts them with no output; otherwise whoever reads our
# output (ctest) would wait for them until the server ends.
wineserver -p15 >/dev/null 2>&1 || true
$wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
exec $wine "$@"
