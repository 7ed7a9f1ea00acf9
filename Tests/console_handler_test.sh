#!/usr/bin/env bash
# The console message handler's output by kind of standard output: an empty
# file and a pipe get ANSI bytes, with every line ended by CR LF. (Appending
# UTF-16 to a file that starts with FF FE needs a readable handle; Wine hands
# redirected output over write-only, so that case is not reachable here.)
#   console_handler_test.sh PROBE_EXE WORK_DIR
set -u
probe=$1 work=$2
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work"
fail=0
expected_ansi=$(printf 'first line\r\nsecond\r\nthird\r\n' | od -An -tx1)

: >"$work/empty.txt"
"$WINE" "$probe" >"$work/empty.txt" || { echo "empty file: exit code $?"; fail=1; }
[ "$(od -An -tx1 <"$work/empty.txt")" = "$expected_ansi" ] || { echo "empty file got:"; od -c "$work/empty.txt"; fail=1; }

"$WINE" "$probe" | cat >"$work/pipe.txt"
[ "$(od -An -tx1 <"$work/pipe.txt")" = "$expected_ansi" ] || { echo "pipe got:"; od -c "$work/pipe.txt"; fail=1; }

[ $fail -eq 0 ] && echo "console handler checks passed"
exit $fail
