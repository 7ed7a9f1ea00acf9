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
# Two drives for the drives log: R: removable, labelled BACKUP with the
# serial number 1a2b3c4d, and S: a CD-ROM, each a folder of the run that a
# test may fill. Drive types, labels and serial numbers are read when the
# server starts, so it starts again once they are set.
mkdir -p "$GLEAN_WINE_ROOT/drives/removable" "$GLEAN_WINE_ROOT/drives/cdrom"
printf 'BACKUP\n' >"$GLEAN_WINE_ROOT/drives/removable/.windows-label"
printf '1a2b3c4d\n' >"$GLEAN_WINE_ROOT/drives/removable/.windows-serial"
ln -sfn "$GLEAN_WINE_ROOT/drives/removable" "$WINEPREFIX/dosdevices/r:"
ln -sfn "$GLEAN_WINE_ROOT/drives/cdrom" "$WINEPREFIX/dosdevices/s:"
"$WINE" reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f </dev/null >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\Wine\Drives' /v s: /d cdrom /f </dev/null >/dev/null 2>&1
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
"$WINESERVER" -p </dev/null >/dev/null 2>&1
# The system's own processes start here, detached from any test's output;
# started by a test they would hold its pipes open after it ends.
"$WINE" wineboot </dev/null >>"$GLEAN_WINE_ROOT/wineboot.log" 2>&1
echo "wine prefix ready: $WINEPREFIX on display $DISPLAY"
