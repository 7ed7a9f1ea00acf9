#!/usr/bin/env bash
# Test-run set-up: a new Wine prefix in the build tree, a persistent
# wineserver for it, and an Xvfb display of the run's own. For the 32-bit
# build it first makes sure this machine runs 32-bit programs at all; where
# it does not, it records why, and the tests of that build skip themselves.
set -euo pipefail
export GLEAN_WINE_ROOT=$1
here=$(dirname "$(readlink -f "$0")")
mkdir -p "$GLEAN_WINE_ROOT"
rm -f "$GLEAN_WINE_ROOT/display" "$GLEAN_WINE_ROOT/skip"
GLEAN_WINE_SETUP=1 . "$here/wine-env.sh"

# Leftovers of an earlier run of this build tree only.
if [ -d "$WINEPREFIX" ]; then "$WINESERVER" -k 2>/dev/null || true; fi
if [ -f "$GLEAN_WINE_ROOT/xvfb.pid" ]; then kill "$(cat "$GLEAN_WINE_ROOT/xvfb.pid")" 2>/dev/null || true; fi
rm -rf "$WINEPREFIX"

skip() {
  echo "$1" >"$GLEAN_WINE_ROOT/skip"
  echo "the tests that run programs will be skipped: $1"
  exit 0
}
if [ "${GLEAN_ARCH:-x64}" = x86 ]; then
  "$here/../scripts/probe32.sh" "$GLEAN_WINE_ROOT/exit32" ||
    skip "this kernel cannot run 32-bit programs (a minimal 32-bit ELF program failed to start)"
  [ -x "$WINE" ] || skip "the 32-bit Wine loader $WINE is not installed"
  "$WINE" --version >/dev/null 2>&1 || skip "the 32-bit Wine loader $WINE cannot start"
fi

# Test runs of both builds start at the same time: one picks its display
# number at a time.
exec 9>/tmp/.glean-display.lock
flock 9
display=
for n in $(seq 91 160); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
setsid Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$GLEAN_WINE_ROOT/xvfb.log" 2>&1 9>&- &
echo $! >"$GLEAN_WINE_ROOT/xvfb.pid"
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
flock -u 9
exec 9>&-
[ -e "/tmp/.X11-unix/X$display" ] || { echo "Xvfb did not start" >&2; cat "$GLEAN_WINE_ROOT/xvfb.log" >&2; exit 1; }
echo ":$display" >"$GLEAN_WINE_ROOT/display"
export DISPLAY=":$display"

mkdir -p "$WINEPREFIX"
"$WINESERVER" -p </dev/null >/dev/null 2>&1
# The 32-bit loader makes a prefix with both system32 and syswow64, where
# 32-bit programs run as they do on 64-bit Windows.
"$WINE" wineboot -i </dev/null >"$GLEAN_WINE_ROOT/wineboot.log" 2>&1
# Two drives for the drives log: R: removable, labelled BACKUP with the
# serial number 1a2b3c4d, and S: a CD-ROM, each a folder of the run that a
# test may fill. Drive types, labels and serial numbers are read when the
# server starts, so it starts again once they are set. Wine's drive manager
# is 64-bit and reads the 64-bit registry view.
mkdir -p "$GLEAN_WINE_ROOT/drives/removable" "$GLEAN_WINE_ROOT/drives/cdrom"
printf 'BACKUP\n' >"$GLEAN_WINE_ROOT/drives/removable/.windows-label"
printf '1a2b3c4d\n' >"$GLEAN_WINE_ROOT/drives/removable/.windows-serial"
ln -sfn "$GLEAN_WINE_ROOT/drives/removable" "$WINEPREFIX/dosdevices/r:"
ln -sfn "$GLEAN_WINE_ROOT/drives/cdrom" "$WINEPREFIX/dosdevices/s:"
"$WINE" reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f /reg:64 </dev/null >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\Wine\Drives' /v s: /d cdrom /f /reg:64 </dev/null >/dev/null 2>&1
# Without a window manager, Wine draws the windows' own frames and captions.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
"$WINESERVER" -p </dev/null >/dev/null 2>&1
# The system's own processes start here, detached from any test's output;
# started by a test they would hold its pipes open after it ends.
"$WINE" wineboot </dev/null >>"$GLEAN_WINE_ROOT/wineboot.log" 2>&1
echo "wine prefix ready: $WINEPREFIX ($WINE) on display $DISPLAY"
