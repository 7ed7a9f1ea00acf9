#!/usr/bin/env bash
# Sets up, builds and runs Glean under Wine on a display of its own: once
# with a bad command line and once with /?, printing the message boxes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
scripts/build.sh >/dev/null
root="$PWD/build/x64/demo-wine"
Tests/wine-start.sh "$root" >/dev/null
trap 'Tests/wine-stop.sh "$root"' EXIT
export GLEAN_WINE_ROOT="$root"
. Tests/wine-env.sh
driver=build/x64/Tests/UiDriver.exe

show() {
  echo "\$ Glean.exe $*"
  "$WINE" out/x64/Glean.exe "$@" &
  local pid=$!
  "$WINE" "$driver" wait Glean 60 | sed -n 's/^control -\{0,1\}[0-9]* Static \(..*\)$/\1/p' | sed 's/\\n/\n/g'
  "$WINE" "$driver" click Glean OK >/dev/null
  local rc=0
  wait $pid || rc=$?
  echo "(exit code $rc)"
  echo
}
show /file:a.zip /file:b.zip
show /?
