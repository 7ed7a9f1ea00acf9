#!/usr/bin/env bash
# Runs Glean with the given arguments under Wine, waits for its message box,
# saves a screenshot, checks the box's text and buttons, presses OK and checks
# the exit code.
#   messagebox_test.sh NAME GLEAN_EXE UIDRIVER_EXE EXIT_CODE TEXT [ARGS...]
# TEXT is the box's text with line breaks written as \n.
set -u
name=$1 glean=$2 driver=$3 expected_rc=$4 expected_text=$5
shift 5
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"

"$WINE" "$glean" "$@" &
pid=$!
out=$("$WINE" "$driver" wait Glean 60)
waited=$?
shots="$GLEAN_WINE_ROOT/../screenshots"
mkdir -p "$shots"
import -window root "$shots/$name.png" 2>/dev/null || true
"$WINE" "$driver" click Glean OK 10 >/dev/null
wait $pid
rc=$?

fail=0
if [ $waited -ne 0 ]; then echo "no message box appeared"; fail=1; fi
printf '%s\n' "$out"
static=$(printf '%s\n' "$out" | grep -E '^control -?[0-9]+ Static ' | sed -E 's/^control -?[0-9]+ Static //' | grep -v '^$')
if ! printf '%s\n' "$static" | grep -qxF -- "$expected_text"; then
  echo "expected text: $expected_text"
  echo "found texts:   $static"
  fail=1
fi
if ! printf '%s\n' "$out" | grep -qE '^control 1 Button (&)?OK$'; then echo "no OK button"; fail=1; fi
if printf '%s\n' "$out" | grep -qE '^control 2 Button'; then echo "unexpected Cancel button"; fail=1; fi
if [ "$rc" -ne "$expected_rc" ]; then echo "exit code $rc, expected $expected_rc"; fail=1; fi
exit $fail
