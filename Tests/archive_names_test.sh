#!/usr/bin/env bash
# One entry a name, and only names Windows can extract: a registry export
# named like the application log, an export numbered like another one, an
# event log named twice, export names Windows keeps for devices or cannot
# hold; each left out with its line, the first of a name kept. Every entry,
# folders included, carries a date a reader can take.
#   archive_names_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/data/sub"
cp "$glean" "$module" "$work/app/"
key='HKCU\Software\GleanNames'
trap '"$WINE" reg delete "$key" /f >/dev/null 2>&1' EXIT
for sub in Key1 Key2 Other; do
  "$WINE" reg add "$key\\$sub" /v Name /d "$sub" /f >/dev/null 2>&1
done
printf 'x' >"$work/data/sub/a.txt"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' \
  '[Registry]' "GleanAppLog.log=$key\\Other" "App.reg=$key\\Key*" "App1.reg=$key\\Other" "prn.reg=$key\\Other" \
  "what?.reg=$key\\Other" "Tail.reg.=$key\\Other" \
  '[OtherFiles]' "Data/MaskWithSubdirs1=$(win "$work/data")\\*" \
  '[EventLog]' 'Log1=Application' 'Log2=Application' >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out.zip")"; rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
"$here/check_zip.sh" "$work/out.zip" >/dev/null || { echo "archive invalid"; fail=1; }
/usr/bin/python3 - "$work/out.zip" <<'PY' || fail=1
import collections, datetime, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
keys = collections.Counter(n.rstrip('/').lower() for n in names)
assert all(c == 1 for c in keys.values()), [k for k, c in keys.items() if c > 1]
assert names[-1] == 'GleanAppLog.log' and names.count('GleanAppLog.log') == 1, names
assert 'App1.reg' in names and 'App2.reg' in names, names
assert names.count('EventLog/Application.evt') == 1, names
assert not any(n.lower().startswith(('prn', 'what', 'tail')) for n in names), names
# The first App1.reg (the numbered export of Key1) stayed.
assert 'Key1' in z.read('App1.reg').decode('utf-16'), z.read('App1.reg').decode('utf-16')
for info in z.infolist():
    datetime.datetime(*info.date_time)  # raises for month or day 0
log = z.read('GleanAppLog.log')[2:].decode('utf-16-le')
for section, name in (('Registry', 'GleanAppLog.log'), ('Registry', 'App1.reg'), ('EventLog', 'EventLog/Application.evt')):
    line = f'Файл {name} из секции {section} не добавлен в архив'
    assert log.count(line) == 1, (line, log)
for name in ('prn.reg', 'what?.reg', 'Tail.reg.'):
    assert f'{name}' in log, (name, log)
print(f'{len(names)} entries, one a name, every date valid')
PY
[ $fail -eq 0 ] && echo "archive name checks passed"
exit $fail
