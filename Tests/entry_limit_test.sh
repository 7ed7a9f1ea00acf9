#!/usr/bin/env bash
# More collected files than the archive's 65535 entries: the archive keeps
# every entry it can, the registry export, the installer log, the event
# log, the run's account and the application log still go in, the
# application log last; planning stops at 65535 files with one line, and
# every planned file left out is named there with its two lines.
#   entry_limit_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/temp"
cp "$glean" "$module" "$work/app/"
trap 'rm -rf "$work/tree"' EXIT
for d in $(seq -w 0 65); do
  mkdir -p "$work/tree/d$d"
  (cd "$work/tree/d$d" && seq 1000 | sed 's/^/f/' | xargs touch)
done
printf '\xff\xfe' >"$work/temp/MSI1.log"
printf 'Property(S): ProductName = Pagewise\r\n' | iconv -f utf-8 -t utf-16le >>"$work/temp/MSI1.log"
"$WINE" reg add 'HKCU\Software\GleanEntryLimit' /v Value /d x /f >/dev/null 2>&1
printf '%s\r\n' '[Common]' 'AppName=Pagewise' "TempDir=$(win "$work/temp")" \
  '[OtherFiles]' "Tree/MaskWithSubdirs1=$(win "$work/tree")\\f*" \
  '[Registry]' 'Limit.reg=HKEY_CURRENT_USER\Software\GleanEntryLimit' \
  '[Msi]' 'Product=Pagewise' '[EventLog]' 'Log1=Application' >"$work/app/Glean.ini"
out="$work/out.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
"$WINE" reg delete 'HKCU\Software\GleanEntryLimit' /f >/dev/null 2>&1
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ -f "$out" ] || { echo "no archive"; exit 1; }
unzip -tq "$out" >/dev/null || { echo "unzip -t failed"; fail=1; }
7z t "$out" >/dev/null || { echo "7z t failed"; fail=1; }
/usr/bin/python3 - "$out" <<'PY' || fail=1
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
names = [i.filename for i in z.infolist()]
assert len(names) == 65535, len(names)
assert names[-8:] == ['Limit.reg', 'MSI/', 'MSI/MSI1.log', 'EventLog/', 'EventLog/Application.evt',
                      'GleanSummary.html', 'GleanManifest.json', 'GleanAppLog.log'], names[-8:]
collected = [n for n in names if n.startswith('Tree/') and not n.endswith('/')]
lines = z.read('GleanAppLog.log')[2:].decode('utf-16-le').split('\r\n')
added = [l for l in lines if l.startswith('Файл ') and ' был добавлен в архив как ' in l]
failed = [i for i, l in enumerate(lines) if l.startswith('Не удалось добавить файл ')]
assert len(added) == len(collected) + 2, (len(added), len(collected))  # and the MSI and event logs
# Planning stops at the archive's 65535 entries, with one line for the
# files after them; of those planned, the ones past the room left each have
# their lines.
assert len(collected) + len(failed) == 65535, (len(collected), len(failed))
assert sum('больше архив не вмещает' in l for l in lines) == 1, lines[:40]
for i in failed:
    assert lines[i - 1].endswith('was not added: the archive cannot hold more than 65535 entries.'), lines[i - 1]
print(f'{len(names)} entries, {len(collected)} collected files, {len(failed)} named as left out')
PY
exit $fail
