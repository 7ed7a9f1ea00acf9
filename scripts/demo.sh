#!/usr/bin/env bash
# Sets up, builds and runs the main job under Wine: a silent collection with
# the sample Glean.ini of the repository, then prints what the archive holds.
# It runs the deliverable, the 32-bit out/x86/Glean.exe, where this machine
# runs 32-bit programs, and the 64-bit build otherwise; it builds only that
# program (with both mail-sender builds it carries), not the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds() { date +%s%3N; }
elapsed() { local ms=$(($(seconds) - $1)); printf '%d.%d s' $((ms / 1000)) $((ms % 1000 / 100)); }

started=$(seconds)
scripts/setup.sh >/dev/null
setup_time=$(elapsed "$started")

arch=x86 wine=/usr/lib/wine/wine
if ! scripts/probe32.sh || [ ! -x "$wine" ]; then
  echo "This machine cannot run 32-bit programs; running the 64-bit build instead."
  arch=x64 wine=/usr/lib/wine/wine64
fi

started=$(seconds)
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" --parallel "$(nproc)" --target Glean Glean0 >/dev/null
mkdir -p "out/$arch"
cp "build/$arch/Glean/Glean.exe" "build/$arch/Glean/Glean0.dll" "build/$arch/Hermod/Hermod.exe" "out/$arch/"
build_time=$(elapsed "$started")

started=$(seconds)
root="$PWD/build/demo-wine"
export GLEAN_WINE_ROOT="$root" GLEAN_ARCH=$arch GLEAN_WINE=$wine
Tests/wine-start.sh "$root" >/dev/null
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
echo
echo "set-up $setup_time, build $build_time, run $(elapsed "$started") (with the Wine prefix)"
