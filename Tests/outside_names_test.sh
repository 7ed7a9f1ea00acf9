#!/usr/bin/env bash
# Names and folder trees from outside never reach past the run: settings
# keys that would name files outside the temporary folder or archive entries
# outside the extraction folder are refused with their line and the rest is
# collected; folder links to an ancestor are listed once, not entered.
#   outside_names_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/data/tree/sub" "$work/out"
cp "$glean" "$module" "$work/app/"
fail=0
temp=$(echo "$WINEPREFIX"/drive_c/users/*/Temp)
# Files that the settings' names point at from the temporary folder.
mkdir -p "$temp/../Documents"
printf 'keep' >"$temp/../Documents/keep.txt"
printf 'keep' >"$temp/../Documents/keep.evt"
printf 'one' >"$work/data/one.txt"
printf 'in the tree' >"$work/data/tree/a.txt"
printf 'deeper' >"$work/data/tree/sub/b.txt"
# A link to the tree's own parent: shown by Wine as a folder reparse point.
ln -s .. "$work/data/tree/sub/up"
"$WINE" reg add 'HKCU\Software\GleanOutsideTest' /v V /d x /f >/dev/null 2>&1
one=$(win "$work/data/one.txt")
printf '%s\r\n' '[Common]' 'AppName=Pagewise' \
  '[OtherFiles]' "../../up/File1=$one" "/rooted/File2=$one" "Good/File3=$one" \
  "MaskWithSubdirs4=$(win "$work/data/tree")\\*.txt" \
  '[Directories]' "Tree1=$(win "$work/data/tree")" \
  '[Registry]' '..\Documents\keep.txt=HKEY_CURRENT_USER\Software\GleanOutsideTest' \
  'Reg/App.reg=HKEY_CURRENT_USER\Software\GleanOutsideTest' \
  '[Msi]' '../../Product1=Pagewise' \
  '[EventLog]' 'Log1=..\Documents\keep' 'Log2=Application' >"$work/app/Glean.ini"
start=$(date +%s)
timeout 120 "$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out/names.zip")"
rc=$?
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ $(($(date +%s) - start)) -lt 60 ] || { echo "the run took $(($(date +%s) - start)) s"; fail=1; }
for victim in keep.txt keep.evt; do
  [ "$(cat "$temp/../Documents/$victim" 2>/dev/null)" = keep ] || { echo "$victim outside the run was touched"; fail=1; }
done
"$here/check_zip.sh" "$work/out/names.zip" >/dev/null || { "$here/check_zip.sh" "$work/out/names.zip"; fail=1; }
/usr/bin/python3 - "$work/out/names.zip" <<'PY' || fail=1
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
for n in names:
    parts = re.split(r'[/\\]', n.rstrip('/'))
    assert not n.startswith(('/', '\\')) and ':' not in n and not {'.', '..'} & set(parts), n
for want in ('Good/000_one.txt', 'Reg/App.reg', 'EventLog/Application.evt'):
    assert any(re.fullmatch(want.replace('000', r'\d+'), n) for n in names), (want, names)
log = z.read('GleanAppLog.log')[2:].decode('utf-16-le').split('\r\n')
for section, key in (('OtherFiles', '../../up/File1'), ('OtherFiles', '/rooted/File2'),
                     ('Registry', '..\\Documents\\keep.txt'), ('Msi', '../../Product1'),
                     ('EventLog', '..\\Documents\\keep')):
    line = f'Секция {section} содержит некорректное имя ключа: {key}'
    assert line in log, (line, log)
# The link is a line of the files log and is not entered; the mask finds each
# file of the tree once.
files = z.read('GleanFiles.log')[2:].decode('utf-16-le').split('\r\n')
assert sum(1 for l in files if l.strip().startswith('up\t') and l.endswith('\tFolder')) == 1, files
assert sum(1 for l in files if l.strip().startswith('a.txt\t')) == 1, files
collected = [n for n in names if n.endswith(('a.txt', 'b.txt'))]
assert len(collected) == 2, collected
PY

"$WINE" reg delete 'HKCU\Software\GleanOutsideTest' /f >/dev/null 2>&1
[ $fail -eq 0 ] && echo "outside-name checks passed"
exit $fail
