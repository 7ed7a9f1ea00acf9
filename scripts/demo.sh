#!/usr/bin/env bash
# Sets up, builds and runs the main job under Wine: a silent collection with
# the sample Glean.ini of the repository, then prints what the archive holds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
scripts/build.sh >/dev/null
root="$PWD/build/x64/demo-wine"
Tests/wine-start.sh "$root" >/dev/null
trap 'Tests/wine-stop.sh "$root"' EXIT
export GLEAN_WINE_ROOT="$root"
. Tests/wine-env.sh

app="$root/app"
rm -rf "$app" && mkdir -p "$app"
cp out/x64/Glean.exe out/x64/Glean0.dll Glean/Glean.ini "$app/"
out="$root/result/Glean.zip"
echo "\$ Glean.exe /file:$out"
"$WINE" "$app/Glean.exe" "/file:Z:$out"
echo "(exit code 0)"
echo
unzip -l "$out"
echo
echo "GleanAppLog.log:"
unzip -p "$out" GleanAppLog.log | iconv -f UTF-16 -t UTF-8
