#!/usr/bin/env bash
# The emulator CTest runs the Windows test programs with.
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
exec "$WINE" "$@"
