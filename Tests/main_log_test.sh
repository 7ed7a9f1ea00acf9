#!/usr/bin/env bash
# The main log of real runs: its labels in order, the OS line for two Windows
# versions chosen per program in the Wine registry, Office versions read from
# registered classes, and module versions from real version resources.
#   main_log_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work"
mkdir -p "$work/app"
cp "$glean" "$module" "$work/app/"
printf '%s\r\n' '[Common]' 'AppName=Glean0.dll' "AppPath=$(win "$work/app")" >"$work/app/Glean.ini"
reg() { "$WINE" reg "$@" >/dev/null 2>&1 || echo "reg $* failed"; }
fail=0
cleanup() {
  "$WINE" reg delete 'HKCU\Software\Wine\AppDefaults\Glean.exe' /f >/dev/null 2>&1
  for key in Word.Application Outlook.Application; do
    "$WINE" reg delete "HKCR\\$key" /f /reg:32 >/dev/null 2>&1
  done
  "$WINE" reg delete 'HKLM\Software\Microsoft\Office\16.0' /f /reg:32 >/dev/null 2>&1
}
cleanup
trap cleanup EXIT

run() { # version -> main log text in $work/main-$1.log (UTF-8)
  reg add 'HKCU\Software\Wine\AppDefaults\Glean.exe' /v Version /d "$1" /f
  rm -f "$work/out.zip"
  "$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out.zip")" || echo "exit code $?"
  unzip -p "$work/out.zip" GleanMain.log | iconv -f UTF-16 -t UTF-8 >"$work/main-$1.log"
}

reg add 'HKCR\Word.Application\CurVer' /ve /d Word.Application.16 /f /reg:32
reg add 'HKCR\Outlook.Application\CurVer' /ve /d Outlook.Application.16 /f /reg:32
reg add 'HKLM\Software\Microsoft\Office\16.0\Outlook' /v Bitness /d x64 /f /reg:32
run win81
run win10

/usr/bin/python3 - "$work" <<'PY' || fail=1
import re, sys
work = sys.argv[1]
def lines(version):
    text = open(f'{work}/main-{version}.log', encoding='utf-8', newline='').read()
    assert not text.endswith('\r\n'), 'ends with a line break'
    return text.split('\r\n')
eight, ten = lines('win81'), lines('win10')
assert eight[2].startswith('OS = Windows 8.1 64-bit  ( version - 6.3.'), eight[2]
assert ten[2].startswith('OS = Windows 10 64-bit  ( version - 10.0.'), ten[2]
assert re.fullmatch(r'service pack - \d+\.\d+, suite mask - \d+, product type - 1 \(Work Station\) \)', ten[3]), ten[3]
labels = ['UserName = ', 'ComputerName = ', 'OS = ', 'service pack - ', 'Edition = ', 'Application directory = ',
          'Windows directory = C:\\windows', 'Temporary directory = ', 'Write right for Installer = ',
          'Write right for temporary directory = Yes', 'UserDefaultLangID = ', 'SystemDefaultLangID = ', 'ACP = ',
          'OEMCP = ', 'MS Word Version = 16', 'MS Outlook Version = 16 (x64)', 'System hard disk s/n = ', '',
          'Dll & Exe Versions:']
got = ten[:len(labels)]
if not ten[4].startswith('Edition = '):
    labels.remove('Edition = ')
    got = ten[:len(labels)]
for label, line in zip(labels, got):
    assert line.startswith(label), (label, line)
block = ten[len(labels):]
modules = block[:block.index('')]
names = [m.split('\t')[0] for m in modules]
assert names[:3] == ['Riched20.dll', 'Riched32.dll', 'Comctl32.dll'] and names[-3:] == ['WinWord.exe', 'Glean0.dll', 'Glean.exe'], names
assert re.fullmatch(r'Glean\.exe\t\[\d+\.\d+\.\d+\.\d+\]', modules[-1]), modules[-1]
assert re.fullmatch(r'Glean0\.dll\t\[\d+\.\d+\.\d+\.\d+\]', modules[-2]), modules[-2]
assert modules[names.index('Twain.dll')] == 'Twain.dll\t\t[Unknown]', modules
assert modules[names.index('WinWord.exe')] == 'WinWord.exe\t[Unknown]'
rest = block[len(modules) + 1:]
assert rest[0] == 'Hardware:' and rest[1].startswith('CPU Vendor = ') and rest[5].startswith('RAM = ') and rest[5].endswith(' Mb'), rest[:6]
assert rest[6] == '' and rest[7] == 'Drives:', rest[6:8]
drives = rest[8:]
assert any(re.fullmatch(r'C:\\\tFixed \tFree space = \d+ Mb\t.*', d) for d in drives), drives
assert any(d.startswith('Z:\\\t') for d in drives), drives
PY
[ $fail -eq 0 ] && echo "main log checks passed"
exit $fail
