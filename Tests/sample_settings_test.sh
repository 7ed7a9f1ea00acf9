#!/usr/bin/env bash
# The sample Glean.ini of the repository gives a complete archive: every
# fixed entry, the collected Windows files, the registry export of
# HKLM\...\Windows NT\CurrentVersion through all its subkeys (Perflib among
# them, whose listing fails under WOW64), both event logs, and the
# application log last.
#   sample_settings_test.sh GLEAN_EXE GLEAN0_DLL SAMPLE_INI WORK_DIR
set -u
glean=$1 module=$2 sample=$3 work=$4
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app"
cp "$glean" "$module" "$sample" "$work/app/"
out="$work/out/Glean.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ -f "$out" ] || { echo "no archive"; exit 1; }
"$here/check_zip.sh" "$out" >/dev/null || { "$here/check_zip.sh" "$out"; fail=1; }
/usr/bin/python3 - "$out" <<'PY' || fail=1
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = [i.filename for i in z.infolist()]
fixed = ['Glean.ini', 'GleanMain.log', 'GleanFiles.log', 'GleanDrives.log', 'GleanAccess.log', 'GleanEnvVars.log']
assert names[:6] == fixed, names[:6]
assert names[-1] == 'GleanAppLog.log', names[-1]
assert any(re.fullmatch(r'\d{3}_win\.ini', n) for n in names), names
assert 'Config/' in names and any(re.fullmatch(r'Config/\d{3}_system\.ini', n) for n in names), names
assert 'Etc/' in names and any(re.fullmatch(r'Etc/\d{3}_hosts', n) for n in names), names
assert names[names.index('WindowsVersion.reg') + 1:names.index('GleanAppLog.log')] == \
    ['EventLog/', 'EventLog/Application.evt', 'EventLog/System.evt', 'GleanSummary.html', 'GleanManifest.json'], names
reg = z.read('WindowsVersion.reg')
assert reg.startswith(b'\xff\xfe')
lines = reg[2:].decode('utf-16-le').split('\r\n')
key = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion'
assert lines[0] == 'Windows Registry Editor Version 5.00' and lines[2] == f'[{key}]', lines[:3]
headers = [l for l in lines if l.startswith('[')]
perflib = headers.index(f'[{key}\\Perflib]')
assert perflib + 1 < len(headers), 'the export ends at Perflib'
applog = z.read('GleanAppLog.log')[2:].decode('utf-16-le').split('\r\n')
assert any(l.endswith('no-such-file.log не найден') for l in applog), applog[:5]
print(f'{len(names)} entries, {len(headers)} keys exported')
PY
exit $fail
