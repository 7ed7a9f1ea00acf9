#!/usr/bin/env bash
# A Word server registered with a command line that starts with "@": the
# line is split as plain text, so no file is read and no device opened. The
# silent run ends without a box, makes its archive, and the main log has
# "Unknown" for Word.
#   word_server_test.sh GLEAN_EXE GLEAN0_DLL UIDRIVER_EXE WORK_DIR
set -u
glean=$1 module=$2 driver=$3 work=$4
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app"
cp "$glean" "$module" "$work/app/"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' >"$work/app/Glean.ini"
clsid='{000209FF-0000-0000-C000-000000000046}'
# HKCR\CLSID has a view of each kind: the server goes into both, so that
# either build reads it.
cleanup() {
  for view in 32 64; do
    "$WINE" reg delete 'HKCR\Word.Application' /f /reg:$view >/dev/null 2>&1
    "$WINE" reg delete "HKCR\\CLSID\\$clsid" /f /reg:$view >/dev/null 2>&1
  done
}
cleanup
trap cleanup EXIT
fail=0
for server in '@C:\nope\args.txt /automation' '@COM1'; do
  for view in 32 64; do
    "$WINE" reg add 'HKCR\Word.Application\CLSID' /ve /d "$clsid" /f /reg:$view >/dev/null &&
      "$WINE" reg add "HKCR\\CLSID\\$clsid\\LocalServer32" /ve /d "$server" /f /reg:$view >/dev/null ||
      { echo "reg add failed"; fail=1; }
  done
  out="$work/out.zip"
  rm -f "$out"
  "$WINE" "$work/app/Glean.exe" "/file:$(win "$out")" &
  pid=$!
  for _ in $(seq 600); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
  if kill -0 $pid 2>/dev/null; then
    echo "$server: the run did not end; $("$WINE" "$driver" wait Glean+65535 1 2>&1)"
    kill $pid; wait $pid; fail=1; continue
  fi
  wait $pid; rc=$?
  [ $rc -eq 0 ] || { echo "$server: exit code $rc"; fail=1; }
  [ -f "$out" ] || { echo "$server: no archive"; fail=1; continue; }
  unzip -p "$out" GleanMain.log | iconv -f UTF-16 -t UTF-8 | tr -d '\r' | grep -qxP 'WinWord\.exe\t\[Unknown\]' ||
    { echo "$server: no \"Unknown\" for Word in the main log"; fail=1; }
done
[ $fail -eq 0 ] && echo "word server checks passed"
exit $fail
