#!/usr/bin/env bash
# Builds both architectures (Release) and leaves the programs in out/x86
# (the deliverable) and out/x64 (the same code, for the tests under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
for arch in x86 x64; do
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" --parallel "$jobs"
  mkdir -p "out/$arch"
  cp "build/$arch/Glean/Glean.exe" "build/$arch/Glean/Glean0.dll" "build/$arch/Hermod/Hermod.exe" "out/$arch/"
done
echo "built: $(ls out/x86/* out/x64/* | tr '\n' ' ')"
