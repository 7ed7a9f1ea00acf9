# Sourced by the test scripts: the private Wine environment of one test run.
# GLEAN_WINE_ROOT is the run's folder in the build tree; GLEAN_WINE the
# loader of the build's architecture (the 64-bit one when not given).
: "${GLEAN_WINE_ROOT:?GLEAN_WINE_ROOT must name the Wine folder of the test run}"
export WINEPREFIX="$GLEAN_WINE_ROOT/prefix"
export WINEDEBUG=-all
# Never offer the Mono or Gecko downloads: they would wait for a click.
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEARCH=win64
export HOME="${HOME:-$GLEAN_WINE_ROOT}"
export LC_ALL=C.UTF-8
if [ -f "$GLEAN_WINE_ROOT/display" ]; then
  DISPLAY=$(cat "$GLEAN_WINE_ROOT/display")
  export DISPLAY
fi
WINE=${GLEAN_WINE:-/usr/lib/wine/wine64}
WINESERVER=/usr/lib/wine/wineserver
# The set-up found that this machine cannot run the build's programs: every
# test that needs them reports itself skipped, with the reason.
if [ -f "$GLEAN_WINE_ROOT/skip" ] && [ -z "${GLEAN_WINE_SETUP:-}" ]; then
  echo "skipped: $(cat "$GLEAN_WINE_ROOT/skip")"
  exit 77
fi
# A Linux path as Wine's programs see it (Z: is the Linux root).
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }
