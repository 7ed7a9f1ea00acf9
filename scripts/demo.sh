#!/usr/bin/env bash
# Sets up, builds and runs the main job under Wine: a silent collection with
# the sample Glean.ini of the repository, then prints what the archive holds.
# It runs the deliverable, the 32-bit out/x86/Glean.exe, where this machine
# runs 32-bit programs, and the 64-bit build otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
scripts/build.sh >/dev/null
root="$PWD/build/demo-wine"
export GLEAN_WINE_ROOT="$root" GLEAN_ARCH=x86 GLEAN_WINE=/usr/lib/wine/wine
Tests/wine-start.sh "$root" >/dev/null
arch=x86
if [ -f "$root/skip" ]; then
  echo "The 32-bit build cannot run here ($(cat "$root/skip")); running the 64-bit build instead."
  arch=x64 GLEAN_ARCH=x64 GLEAN_WINE=/usr/lib/wine/wine64
  Tests/wine-start.sh "$root" >/dev/null
fi
trap 'Tests/wine-stop.sh "$root"' EXIT
. Tests/wine-env.sh

app="$root/app"
rm -rf "$app" && mkdir -p "$app"
cp "out/$arch/Glean.exe" "out/$arch/Glean0.dll" Glean/Glean.ini "$app/"
out="$root/result/Glean.zip"
echo "\$ out/$arch/Glean.exe /file:$out    ($arch build, $WINE)"
"$WINE" "$app/Glean.exe" "/file:Z:$out"
echo "(exit code 0)"
echo
unzip -l "$out"
echo
echo "GleanAppLog.log:"
unzip -p "$out" GleanAppLog.log | iconv -f UTF-16 -t UTF-8
