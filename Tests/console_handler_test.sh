#!/usr/bin/env bash
# The console message handler's output by kind of standard output: an empty
# file and a pipe get ANSI bytes, with every line ended by CR LF; a file that
# starts with FF FE is appended to as UTF-16, one that does not as ANSI.
# Finding the mark needs a readable handle, and Wine hands a shell's
# redirection over write-only, so the probe starts itself with the file
# opened for reading and writing for those cases.
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

printf '\xff\xfex\x00' >"$work/unicode.txt"
"$WINE" "$probe" append "$(win "$work/unicode.txt")" || { echo "append: exit code $?"; fail=1; }
expected_utf16=$( { printf '\xff\xfex\x00'; printf 'first line\r\nsecond\r\nthird\r\n' | iconv -f ascii -t utf-16le; } | od -An -tx1)
[ "$(od -An -tx1 <"$work/unicode.txt")" = "$expected_utf16" ] || { echo "FF FE file got:"; od -c "$work/unicode.txt"; fail=1; }
printf 'abc' >"$work/ansi.txt"
"$WINE" "$probe" append "$(win "$work/ansi.txt")" || { echo "append: exit code $?"; fail=1; }
[ "$(od -An -tx1 <"$work/ansi.txt")" = "$( { printf 'abc'; printf 'first line\r\nsecond\r\nthird\r\n'; } | od -An -tx1)" ] ||
  { echo "ANSI file got:"; od -c "$work/ansi.txt"; fail=1; }

[ $fail -eq 0 ] && echo "console handler checks passed"
exit $fail
