#!/usr/bin/env bash
# The key of a masked archive in real silent runs: named after its archive,
# so that two archives in one folder keep a key each, each naming its own
# archive in its first line; a key that cannot be written (a folder in its
# place) fails the run with its error, and no archive reaches the target.
#   privacy_key_test.sh GLEAN_EXE GLEAN0_DLL UIDRIVER_EXE WORK_DIR
set -u
glean=$1 module=$2 driver=$3 work=$4
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/out"
cp "$glean" "$module" "$work/app/"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Privacy]' 'Mask=1' >"$work/app/Glean.ini"
fail=0
for name in Glean Case42; do
  "$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out/$name.zip")" || { echo "$name: exit code $?"; fail=1; }
done
/usr/bin/python3 - "$work/out" <<'PY' || fail=1
import os, sys, zipfile
out = sys.argv[1]
assert sorted(os.listdir(out)) == ['Case42-privacy-key.txt', 'Case42.zip', 'Glean-privacy-key.txt', 'Glean.zip'], os.listdir(out)
for name in ('Glean', 'Case42'):
    lines = open(f'{out}/{name}-privacy-key.txt', 'rb').read().split(b'\r\n')
    assert lines[0] == f'\ufeffGlean privacy key: the stand-ins in {name}.zip and what they stand for. ' \
                       'Keep this file; never send it.'.encode(), lines[0]
    pairs = dict(line.decode().split('\t', 1) for line in lines[1:] if line)
    main_log = zipfile.ZipFile(f'{out}/{name}.zip').read('GleanMain.log')[2:].decode('utf-16-le')
    assert 'user1' in pairs and 'user1' in main_log and pairs['user1'] not in main_log, (name, pairs)
PY

mkdir "$work/out/Broken-privacy-key.txt"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out/Broken.zip")" &
pid=$!
box=$("$WINE" "$driver" wait Glean+65535 60) || { echo "no error box"; fail=1; kill $pid; }
printf '%s\n' "$box" | grep -qF "control 65535 Static Access to $(win "$work/out/Broken-privacy-key.txt") was denied." ||
  { echo "error box: $box"; fail=1; }
"$WINE" "$driver" click Glean+65535 OK 10 >/dev/null
wait $pid; rc=$?
[ $rc -eq 1 ] || { echo "a key that cannot be written: exit code $rc"; fail=1; }
left=$(ls "$work/out" | grep -v -e '^Glean' -e '^Case42' -e '^Broken-privacy-key.txt$')
[ -z "$left" ] || { echo "left at the target: $left"; fail=1; }
[ $fail -eq 0 ] && echo "privacy key checks passed"
exit $fail
