#!/usr/bin/env bash
# The limits of the archive in a real run: a collected file of 4 GiB + 10
# bytes (sparse) is left out with its two application-log lines, as the
# format's 32-bit sizes cannot describe it; a mask whose value names a
# folder collects that folder's files, with the folder in their names.
#   archive_limits_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/product/Logs/Old" "$work/big"
cp "$glean" "$module" "$work/app/"
trap 'rm -rf "$work/big"' EXIT
truncate -s $((4 * 1024 * 1024 * 1024 + 10)) "$work/big/huge.bin"
printf 'root log' >"$work/product/a.log"
printf 'inner log' >"$work/product/Logs/a.log"
printf 'old log' >"$work/product/Logs/Old/b.log"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' "AppPath=$(win "$work/product")" \
  '[AppPath]' 'Inner/Mask1=Logs\*.log' 'Tree/MaskWithSubdirs1=Logs\*.log' \
  '[OtherFiles]' "Big/File1=$(win "$work/big/huge.bin")" >"$work/app/Glean.ini"
out="$work/out.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ -f "$out" ] || { echo "no archive"; exit 1; }
"$here/check_zip.sh" "$out" >/dev/null || { "$here/check_zip.sh" "$out"; fail=1; }
/usr/bin/python3 - "$out" "$(win "$work/big/huge.bin")" <<'PY' || fail=1
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
huge = sys.argv[2]
files = {re.sub(r'(^|/)\d{3}_', r'\1', i.filename): z.read(i) for i in z.infolist() if not i.is_dir()}
assert files.get('Inner/Logs/a.log') == b'inner log', sorted(files)
assert files.get('Tree/Logs/a.log') == b'inner log' and files.get('Tree/Logs/Old/b.log') == b'old log', sorted(files)
assert not any(n.endswith('huge.bin') for n in files), 'the 4 GiB file is in the archive'
assert b'root log' not in files.values(), 'the base folder\'s own a.log was collected'
lines = z.read('GleanAppLog.log')[2:].decode('utf-16-le').split('\r\n')
failed = [i for i, l in enumerate(lines) if re.fullmatch(f'Не удалось добавить файл {re.escape(huge)} в архив как Big/\\d{{3}}_huge.bin', l)]
assert len(failed) == 1, lines
assert re.fullmatch(r'Big/\d{3}_huge.bin was not added: the archive cannot hold a file of 4 GB or more\.', lines[failed[0] - 1]), lines[failed[0] - 1]
print('limits checked:', ', '.join(sorted(files)))
PY
exit $fail
