#!/usr/bin/env bash
# Names outside the ANSI code page everywhere: folders and files collected
# and listed, a registry key, its value names and data, an installer log
# and its product name, an access object; each arrives in the archive byte
# for byte, its name as UTF-8.
#   unicode_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work"
folder="$work/данные/日本語"
temp="$work/временный"
mkdir -p "$work/app" "$folder" "$temp"
cp "$glean" "$module" "$work/app/"
head -c 5000 /dev/urandom >"$folder/ファイル名 ü.bin"
printf '\xff\xfe' >"$temp/MSIÜñ.log"
printf 'Property(S): ProductName = Продукт Ω\r\n' | iconv -f utf-8 -t utf-16le >>"$temp/MSIÜñ.log"
key='HKCU\Software\GleanÜnicode\Ключ'
"$WINE" reg delete 'HKCU\Software\GleanÜnicode' /f >/dev/null 2>&1
"$WINE" reg add "$key" /v '名前' /d 'значение ∑' /f >/dev/null 2>&1
{ printf '\xef\xbb\xbf'; printf '%s\r\n' '[Common]' 'AppName=Pagewise' "TempDir=$(win "$temp")" \
    '[OtherFiles]' "Файлы/File1=$(win "$folder/ファイル名 ü.bin")" '[Directories]' "Dir1=$(win "$folder")" \
    '[Registry]' 'Юникод.reg=HKEY_CURRENT_USER\Software\GleanÜnicode\Ключ' '[Msi]' 'Продукты/Имя=Продукт Ω' \
    '[Access]' "File1=$(win "$folder/ファイル名 ü.bin")"; } >"$work/app/Glean.ini"
out="$work/out.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"; rc=$?
"$WINE" reg delete 'HKCU\Software\GleanÜnicode' /f >/dev/null 2>&1
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
"$here/check_zip.sh" "$out" >/dev/null || { "$here/check_zip.sh" "$out"; fail=1; }
/usr/bin/python3 - "$out" "$folder" "$temp" "$(win "$folder/ファイル名 ü.bin")" <<'PY' || fail=1
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
folder, temp, winpath = sys.argv[2:5]
names = z.namelist()
collected = [n for n in names if n.startswith('Файлы/') and n.endswith('_ファイル名 ü.bin')]
assert len(collected) == 1, names
assert z.read(collected[0]) == open(f'{folder}/ファイル名 ü.bin', 'rb').read()
assert z.read('MSI/Продукты/MSIÜñ.log') == open(f'{temp}/MSIÜñ.log', 'rb').read(), names
def text(name):
    data = z.read(name)
    assert data.startswith(b'\xff\xfe'), name
    return data[2:].decode('utf-16-le')
reg = text('Юникод.reg')
assert '[HKEY_CURRENT_USER\\Software\\GleanÜnicode\\Ключ]' in reg and '"名前"="значение ∑"' in reg, reg
assert '  ファイル名 ü.bin\t' in text('GleanFiles.log')
assert f'[{winpath}]:' in text('GleanAccess.log')
assert any(i.comment.decode('utf-8') == winpath for i in z.infolist())
print('names outside the code page arrived:', ', '.join(n for n in names if not n.isascii()))
PY
exit $fail
