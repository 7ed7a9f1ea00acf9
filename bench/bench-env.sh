# Sourced by the benchmark scripts: builds, then starts the benchmarks' own
# Wine prefix (stopped again on exit). Sets root, build, bench (the data
# folder); wine-env.sh adds win (a Linux path as Wine sees it).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
build=$root/build/x64
bench=$build/bench-data
export GLEAN_WINE_ROOT=$build/bench-wine
"$root/Tests/wine-start.sh" "$GLEAN_WINE_ROOT" >/dev/null 2>&1
trap '"$root/Tests/wine-stop.sh" "$GLEAN_WINE_ROOT" >/dev/null 2>&1' EXIT
. "$root/Tests/wine-env.sh"
mkdir -p "$bench"
