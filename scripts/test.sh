#!/usr/bin/env bash
# Sets up the machine, builds both architectures and runs every test of
# both: the 32-bit build under the 32-bit Wine loader, the 64-bit one under
# the 64-bit loader, each in a Wine prefix and display of its own, the two
# runs side by side. Extra arguments go to both ctest runs (for example
# -R silent_run).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
scripts/build.sh || exit 1
for arch in x86 x64; do
  ctest --preset "$arch" --parallel "$(nproc)" "$@" >"build/$arch/ctest.log" 2>&1 &
  eval "pid_$arch=$!"
done
status=0
summary=()
for arch in x86 x64; do
  pid="pid_$arch"
  wait "${!pid}" || status=1
  echo "== tests of the $arch build"
  log="build/$arch/ctest.log"
  cat "$log"
  passed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$log")
  failed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception|Not Run)' "$log")
  skipped=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$log")
  line="$arch: $passed passed, $failed failed, $skipped skipped"
  if ((skipped)); then
    reason="they report no reason"
    [ -f "build/$arch/wine/skip" ] && reason=$(cat "build/$arch/wine/skip")
    line+=" (the tests that run programs: $reason)"
  fi
  summary+=("$line")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
