#!/usr/bin/env bash
# Sets up the machine, builds both architectures and runs every test under
# the run's own Wine prefix and display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --preset x64 --parallel "$(nproc)" "$@"
