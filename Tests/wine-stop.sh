#!/usr/bin/env bash
# Test-run clean-up: stops this run's wineserver and Xvfb, nothing else.
export GLEAN_WINE_ROOT=$1
here=$(dirname "$(readlink -f "$0")")
GLEAN_WINE_SETUP=1 . "$here/wine-env.sh"
"$WINESERVER" -k 2>/dev/null || true
if [ -f "$GLEAN_WINE_ROOT/xvfb.pid" ]; then
  kill "$(cat "$GLEAN_WINE_ROOT/xvfb.pid")" 2>/dev/null || true
  rm -f "$GLEAN_WINE_ROOT/xvfb.pid" "$GLEAN_WINE_ROOT/display"
fi
exit 0
