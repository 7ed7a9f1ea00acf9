#!/usr/bin/env bash
# The archive's 2 GiB in a real run, with data that does not compress: 33
# collected copies of 64 MiB of random bytes fill it, and the entries that
# always follow them (a registry export of several megabytes, an event log,
# the application log) still go in, last, while the collected files that no
# longer fit are left out with their two application-log lines.
#   byte_limit_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/data"
trap 'rm -rf "$work/data" "$work/out.zip"; "$WINE" reg delete "HKCU\Software\GleanByteLimit" /f >/dev/null 2>&1' EXIT
cp "$glean" "$module" "$work/app/"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/data/random.bin"
# 200 binary values of 16 KiB: an export of some 20 MB.
/usr/bin/python3 - "$work/data/big.reg" <<'PY'
import os, sys
with open(sys.argv[1], 'w', newline='\r\n') as f:
    f.write('Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\GleanByteLimit]\n')
    for i in range(200):
        f.write(f'"V{i:03}"=hex:' + ','.join(f'{b:02x}' for b in os.urandom(16384)) + '\n')
PY
"$WINE" regedit /s "$(win "$work/data/big.reg")" >/dev/null 2>&1
{ printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Registry]' 'Big.reg=HKEY_CURRENT_USER\Software\GleanByteLimit' \
    '[EventLog]' 'Log1=Application' '[OtherFiles]'
  for i in $(seq -w 1 33); do printf 'File%s=%s\r\n' "$i" "$(win "$work/data/random.bin")"; done; } >"$work/app/Glean.ini"
out="$work/out.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ -f "$out" ] || { echo "no archive"; exit 1; }
size=$(stat -c %s "$out")
[ "$size" -le 2147483647 ] || { echo "the archive has $size bytes"; fail=1; }
# Two independent readers test every CRC of the 2 GiB; the others would only
# read the same bytes again.
unzip -tq "$out" >/dev/null || { echo "unzip -t failed"; fail=1; }
7z t "$out" >/dev/null || { echo "7z t failed"; fail=1; }
/usr/bin/python3 - "$out" <<'PY' || fail=1
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
collected = [n for n in names if n.endswith('_random.bin')]
assert 25 <= len(collected) < 33, len(collected)
tail = names[names.index(collected[-1]) + 1:]
assert tail == ['Big.reg', 'EventLog/', 'EventLog/Application.evt', 'GleanSummary.html', 'GleanManifest.json',
                'GleanAppLog.log'], tail
assert z.getinfo('Big.reg').file_size > 5_000_000, z.getinfo('Big.reg').file_size
lines = z.read('GleanAppLog.log')[2:].decode('utf-16-le').split('\r\n')
failed = [i for i, l in enumerate(lines) if l.startswith('Не удалось добавить файл ') and 'random.bin' in l]
assert len(failed) == 33 - len(collected), (len(failed), len(collected))
for i in failed:
    assert re.fullmatch(r'\d{3}_random\.bin was not added: the archive cannot grow beyond 2 GB\.', lines[i - 1]), lines[i - 1]
print(f'{len(collected)} of 33 collected; the archive has {sum(i.compress_size for i in z.infolist())} bytes of data')
PY
exit $fail
