#!/usr/bin/env bash
# A silent collection under Wine: a settings file naming 1001 files (so the
# numbering passes 999_), files in sub-folders, a non-ASCII name and a
# missing file; the archive is written into folders that do not exist yet
# and checked with the independent readers and for its exact entry list.
# A file held open without sharing is left out with two application-log
# lines while every other entry is there.
#   silent_run_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR FILE_LOCKER_EXE
set -u
glean=$1 module=$2 work=$3 locker=$4
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work"
mkdir -p "$work/app" "$work/data/sub/deeper" "$work/one"
cp "$glean" "$module" "$work/app/"
for i in $(seq 1 1001); do printf 'file %s\n' "$i" >"$work/data/f$(printf %04d "$i").txt"; done
printf 'nested\n' >"$work/data/sub/deeper/n.log"
printf 'single\n' >"$work/one/файл.txt"
# UTF-8 with its byte-order mark; without one the file is read as ANSI.
{ printf '\xef\xbb\xbf'; printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[OtherFiles]' \
  "Many/Mask1=$(win "$work/data")\\*.txt" \
  "Deep/MaskWithSubdirs1=$(win "$work/data/sub")\\*.log" \
  "Single/File1=$(win "$work/one")\\файл.txt" \
  "File2=$(win "$work")\\missing.txt" \
  "Locked/File3=$(win "$work/one")\\locked.txt"; } >"$work/app/Glean.ini"
printf 'locked\n' >"$work/one/locked.txt"

out="$work/new/sub/out.zip"
"$WINE" "$locker" "$(win "$work/one/locked.txt")" "$(win "$work/ready")" "$(win "$work/release")" &
lockerPid=$!
for i in $(seq 1 100); do [ -f "$work/ready" ] && break; sleep 0.1; done
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
touch "$work/release"; wait $lockerPid
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ -f "$out" ] || { echo "no archive at $out"; exit 1; }
"$here/check_zip.sh" "$out" >/dev/null || { "$here/check_zip.sh" "$out"; fail=1; }
/usr/bin/python3 - "$out" <<'PY' || fail=1
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
import re
names = [i.filename for i in z.infolist()]
# Fixed entries first and last; the collected files between them are numbered
# in archive order, each directory entry before its first file. The order of
# keys within a section follows the settings reader's table, not the file.
fixed = ['Glean.ini', 'GleanMain.log', 'GleanFiles.log', 'GleanDrives.log', 'GleanAccess.log', 'GleanEnvVars.log']
assert names[:len(fixed)] == fixed, names[:len(fixed)]
# The run's account, then its application log, last.
assert names[-3:] == ['GleanSummary.html', 'GleanManifest.json', 'GleanAppLog.log'], names[-3:]
middle = names[len(fixed):-3]
files = [n for n in middle if not n.endswith('/')]
numbers = [int(re.search(r'(?:^|/)(\d+)_', n).group(1)) for n in files]
# The locked file keeps its number; it is the one gap.
assert numbers == sorted(set(numbers)), numbers[:20]
assert len(set(range(len(files) + 1)) - set(numbers)) == 1, numbers[-5:]
assert 999 in numbers and 1000 in numbers
stripped = sorted(re.sub(r'(^|/)\d+_', r'\1', n) for n in files)
expected = sorted(['Many/f%04d.txt' % (i + 1) for i in range(1001)] + ['Deep/deeper/n.log', 'Single/файл.txt'])
assert stripped == expected, [a for a, b in zip(stripped, expected) if a != b][:3]
for n in middle:
    if not n.endswith('/'):
        folder = n[:n.rfind('/') + 1]
        assert folder and folder in middle[:middle.index(n)], n
assert sorted(n for n in middle if n.endswith('/')) == ['Deep/', 'Deep/deeper/', 'Many/', 'Single/']
comments = {i.filename: i.comment.decode('utf-8') for i in z.infolist()}
assert comments['Glean.ini'] == 'Settings File', comments['Glean.ini']
assert comments['GleanEnvVars.log'] == 'Environment variables'
assert comments['GleanAppLog.log'] == 'Glean Application Log'
single = [n for n in names if re.fullmatch(r'Single/\d+_файл\.txt', n)]
assert len(single) == 1 and comments[single[0]].endswith('\\файл.txt'), single
applog = z.read('GleanAppLog.log')
assert applog.startswith(b'\xff\xfe')
lines = applog[2:].decode('utf-16-le').split('\r\n')
added = [l for l in lines if l.startswith('Файл ') and ' был добавлен в архив как ' in l]
assert len(added) == 1003, len(added)
failed = [i for i, l in enumerate(lines) if l.startswith('Не удалось добавить файл ') and 'locked.txt' in l]
assert len(failed) == 1 and 'locked.txt' in lines[failed[0] - 1], lines[failed[0] - 1:failed[0] + 1]
assert not any('locked.txt' in n for n in names), 'the locked file is in the archive'

assert any(l.startswith('Файл ') and l.endswith('missing.txt не найден') for l in lines), lines[:5]
for section in ('Registry', 'Directories', 'Access', 'Msi', 'EventLog'):
    assert f'Секция {section} не найдена' in lines, section
env = z.read('GleanEnvVars.log')[2:].decode('utf-16-le').split('\r\n')
assert any(l.startswith('WINEPREFIX=') or '=' in l for l in env)
print(f"{len(names)} entries, {len(added)} files added")
PY
# A second run replaces the archive that is there now.
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")" || { echo "second run failed"; fail=1; }
# No temporary file of the run is left behind.
temp=$(echo "$WINEPREFIX"/drive_c/users/*/Temp)
ours() { ls "$temp" 2>/dev/null | grep -E '^(GML|GFL|GDL|GSL|GEL|GAL|tmp).....\.tmp$' || true; }
left=$(ours)
[ -z "$left" ] || { echo "left behind: $left"; fail=1; }
# With the library setting "KeepTempFiles" every temporary file of the run
# stays, the archive's own included.
# "SaveAllMessages" writes the table of messages beside the program.
"$WINE" reg add 'HKCU\Software\Zarvo\Basalt' /v KeepTempFiles /d 1 /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Zarvo\Basalt' /v SaveAllMessages /d true /f >/dev/null 2>&1
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")" || { echo "run with KeepTempFiles failed"; fail=1; }
"$WINE" reg delete 'HKCU\Software\Zarvo\Basalt' /f >/dev/null 2>&1
kept=$(ours | cut -c1-3 | sort | tr '\n' ' ')
[ "$kept" = "GAL GDL GEL GFL GML GSL tmp " ] || { echo "kept with KeepTempFiles: $kept"; fail=1; }
for f in $(ours); do rm -f "$temp/$f"; done
table="$work/app/Glean all messages.txt"
if [ -f "$table" ]; then
  iconv -f UTF-16 -t UTF-8 "$table" | tr -d '\r' >"$work/table.txt"
  [ "$(head -c 2 "$table" | od -An -tx1 | tr -d ' ')" = "fffe" ] || { echo "message table without FF FE"; fail=1; }
  [ "$(head -1 "$work/table.txt")" = "$(printf 'Name\tModule\tDefined\tUsed')" ] || { echo "bad header"; fail=1; }
  grep -q "$(printf '^MSG_FILE_ADDED_TO_ARCHIVE\tGlean.exe\ttrue\ttrue$')" "$work/table.txt" \
    || { echo "no line for MSG_FILE_ADDED_TO_ARCHIVE"; head -5 "$work/table.txt"; fail=1; }
else
  echo "no message table written"; fail=1
fi
exit $fail
