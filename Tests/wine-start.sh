#!/usr/bin/env bash
# Test-run set-up: a new Wine prefix in the build tree, a persistent
# wineserver for it, and an Xvfb display of the run's own.
set -euo pipefail
export GLEAN_WINE_ROOT=$1
here=$(dirname "$(readlink -f "$0")")
mkdir -p "$GLEAN_WINE_ROOT"
rm -f "$GLEAN_WINE_ROOT/display"
. "$here/wine-env.sh"

# Leftovers of an earlier run of this build tree only.
if [ -d "$WINEPREFIX" ]; then "$WINESERVER" -k 2>/dev/null || true; fi
if [ -f "$GLEAN_WINE_ROOT/xvfb.pid" ]; then kill "$(cat "$GLEAN_WINE_ROOT/xvfb.pid")" 2>/dev/null || true; fi
rm -rf "$WINEPREFIX"

display=
for n in $(seq 91 160); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
setsid Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$GLEAN_WINE_ROOT/xvfb.log" 2>&1 &
echo $! >"$GLEAN_WINE_ROOT/xvfb.pid"
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
[ -e "/tmp/.X11-unix/X$display" ] || { echo "Xvfb did not start" >&2; cat "$GLEAN_WINE_ROOT/xvfb.log" >&2; exit 1; }
echo ":$display" >"$GLEAN_WINE_ROOT/display"
export DISPLAY=":$display"

mkdir -p "$WINEPREFIX"
"$WINESERVER" -p </dev/null >/dev/null 2>&1
"$WINE" wineboot -i </dev/null >"$GLEAN_WINE_ROOT/wineboot.log" 2>&1
echo "wine prefix ready: $WINEPREFIX on display $DISPLAY"
