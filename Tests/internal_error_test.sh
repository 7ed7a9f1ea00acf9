#!/usr/bin/env bash
# The reports of internal errors, read from their message boxes: the first
# two offer OK only, the third OK and Cancel, and Cancel ends the process; a
# failed check with throwing off is shown and the program goes on; a failed
# check inside a report and an exception nothing catches end the process
# with their last-resort boxes.
#   internal_error_test.sh ERROR_PROBE_EXE UIDRIVER_EXE WORK_DIR
set -u
probe=$1 driver=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work"; mkdir -p "$work"
fail=0
buttons() { printf '%s\n' "$1" | sed -n 's/^control \([0-9]*\) Button &\{0,1\}\(.*\)$/\2/p' | tr '\n' ' '; }
texts() { printf '%s\n' "$1" | sed -n 's/^control -\{0,1\}[0-9]* Static //p' | grep -v '^$'; }
box() { # caption -> the box's controls, or fails
  "$WINE" "$driver" wait "$1" 60 || { echo "no box '$1'"; fail=1; return 1; }
}
run() { "$WINE" "$probe" "$1" >"$work/$1.out" 2>/dev/null & pid=$!; }

for answer in Cancel OK; do
  run third
  for i in 1 2 3; do
    out=$(box ErrorProbe) || break
    want="OK "; [ $i -eq 3 ] && want="OK Cancel "
    [ "$(buttons "$out")" = "$want" ] || { echo "box $i buttons: $(buttons "$out"), expected $want"; fail=1; }
    texts "$out" | grep -q "probe.cpp, $i" || { echo "box $i text: $(texts "$out")"; fail=1; }
    press=OK; [ $i -eq 3 ] && press=$answer
    "$WINE" "$driver" click ErrorProbe "$press" 10 >/dev/null
    "$WINE" "$driver" gone ErrorProbe 10 >/dev/null
  done
  wait $pid; rc=$?
  if [ $answer = Cancel ]; then
    [ $rc -ne 0 ] && ! grep -q continued "$work/third.out" || { echo "Cancel did not end the process (rc $rc)"; fail=1; }
  else
    [ $rc -eq 0 ] && grep -q continued "$work/third.out" || { echo "OK on the third box: rc $rc"; fail=1; }
  fi
done

run assert
if out=$(box ErrorProbe); then
  texts "$out" | grep -qF 'Assertion failed: ( argc == 99 )' || { echo "assert text: $(texts "$out")"; fail=1; }
  "$WINE" "$driver" click ErrorProbe OK 10 >/dev/null
fi
wait $pid; rc=$?
[ $rc -eq 0 ] && grep -q continued "$work/assert.out" || { echo "the program did not go on after the report (rc $rc)"; fail=1; }

for mode in nested:Double uncaught:Unhandled; do
  run "${mode%%:*}"
  if out=$(box Basalt); then
    texts "$out" | grep -q "^${mode#*:}" || { echo "${mode%%:*} text: $(texts "$out")"; fail=1; }
    "$WINE" "$driver" click Basalt OK 10 >/dev/null
  fi
  wait $pid; rc=$?
  [ $rc -ne 0 ] && ! grep -q continued "$work/${mode%%:*}.out" || { echo "${mode%%:*}: the process went on (rc $rc)"; fail=1; }
done
[ $fail -eq 0 ] && echo "internal error reports as expected"
exit $fail
