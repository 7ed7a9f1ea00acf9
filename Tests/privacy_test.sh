#!/usr/bin/env bash
# Personal data masked in a real run: the user's, the computer's and the
# domain's names as this Wine gives them, addresses, secrets of the
# environment and listed words, put into the environment, the registry and
# collected text files (UTF-8 and UTF-16), leave no trace in any entry of
# the archive, read as UTF-16, as UTF-8 and as raw bytes, nor in its
# comments; the key beside the archive pairs each stand-in with what it
# stands for. With Mask=0 the archive is the one of a run without the
# section.
#   privacy_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/data" "$work/out" "$work/plain" "$work/off"
cp "$glean" "$module" "$work/app/"
cpu='HKLM\HARDWARE\DESCRIPTION\System\CentralProcessor\0'
saved=$("$WINE" reg query "$cpu" /v ProcessorNameString /reg:64 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *ProcessorNameString *REG_SZ *//p')
trap '"$WINE" reg delete "HKCU\Software\GleanPrivacy" /f >/dev/null 2>&1
  "$WINE" reg add "$cpu" /v ProcessorNameString /d "$saved" /f /reg:64 >/dev/null 2>&1' EXIT
fail=0
# What this Wine says the user, the computer and the domain are.
names=$("$WINE" cmd /c 'echo %USERNAME%^|%COMPUTERNAME%^|%USERDOMAIN%' 2>/dev/null | tr -d '\r')
IFS='|' read -r user computer domain <<<"$names"
[ -n "$user" ] && [ -n "$computer" ] || { echo "no names from Wine: '$names'"; exit 1; }
# The main log's facts reach the summary page too.
"$WINE" reg add "$cpu" /v ProcessorNameString /d "CPU of $computer for Bluebird" /f /reg:64 >/dev/null 2>&1 ||
  { echo "cannot set the processor name"; exit 1; }
export GLEAN_SERVER=10.20.30.40 GLEAN_SERVER6=fe80::1ff:fe23:4567:890a GLEAN_API_TOKEN=tok-98765-zz MY_PASSWORD=Hunter2Pass
"$WINE" reg add 'HKCU\Software\GleanPrivacy' /v Gateway /d '192.168.77.1' /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\GleanPrivacy' /v Adapter /d '00-1A-2B-3C-4D-5E' /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\GleanPrivacy' /v Owner /d "$user@example.org" /f >/dev/null 2>&1
text="user $user on $computer in $domain, mail jane.roe@example.com, ip 172.16.5.4 and 2001:db8::42,
mac 00:1a:2b:3c:4d:5f, project Bluebird of Quillmark, token tok-98765-zz"
printf '%s\r\n' "$text" >"$work/data/notes.txt"
printf '%s\r\n' "$text" | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$work/data/wide.log"
# A binary file goes in unchanged: of bytes that spell no name.
head -c 20000 /dev/urandom | tr -c '\000-\037' '\000' >"$work/data/blob.bin"
common() {
  printf '%s\r\n' '[Common]' 'AppName=Pagewise' 'RecipientAddress=support@zarvo.com' \
    '[Registry]' 'Privacy.reg=HKEY_CURRENT_USER\Software\GleanPrivacy' \
    '[OtherFiles]' "File1=$(win "$work/data/notes.txt")" "File2=$(win "$work/data/wide.log")" \
    "File3=$(win "$work/data/blob.bin")"
}
{ common; printf '%s\r\n' '[Privacy]' 'Mask=1' 'MaskCollectedFiles=1' 'Word1=Bluebird' 'Word2=Quillmark'; } >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out/masked.zip")" || { echo "masked run: exit code $?"; fail=1; }
"$here/check_zip.sh" "$work/out/masked.zip" >/dev/null || { echo "masked archive invalid"; fail=1; }
[ -f "$work/out/masked-privacy-key.txt" ] || { echo "no key beside the archive"; fail=1; }
/usr/bin/python3 - "$work/out/masked.zip" "$work/out/masked-privacy-key.txt" "$user" "$computer" "$domain" <<'PY' || fail=1
import re, sys, zipfile
path, key_path, user, computer, domain = sys.argv[1:6]
originals = [user, computer, domain, '10.20.30.40', 'fe80::1ff:fe23:4567:890a', '192.168.77.1', '00-1A-2B-3C-4D-5E',
             '00:1a:2b:3c:4d:5f', 'jane.roe@example.com', f'{user}@example.org', '172.16.5.4', '2001:db8::42',
             'Bluebird', 'Quillmark', 'tok-98765-zz', 'Hunter2Pass']
originals = [o for o in dict.fromkeys(originals) if len(o) >= 2]
z = zipfile.ZipFile(path)
raw = open(path, 'rb').read()
central = raw[int.from_bytes(raw[-6:-2], 'little'):]
def words_of(data):
    yield data.lower()
    yield data.decode('utf-8', 'ignore').lower().encode('utf-8')
    yield data.decode('utf-16-le', 'ignore').lower().encode('utf-8')
    yield data[1:].decode('utf-16-le', 'ignore').lower().encode('utf-8')
def whole(text, found):
    # names count as found only as whole words, as the mask treats them
    return re.search(rb'(?<![A-Za-z0-9_])' + re.escape(found) + rb'(?![A-Za-z0-9_])', text) is not None
left = []
for info in z.infolist():
    data = z.read(info)
    for original in originals:
        needle = original.lower().encode('utf-8')
        for form in words_of(data):
            if whole(form, needle):
                left.append((info.filename, original))
                break
for original in originals:
    if whole(central.lower(), original.lower().encode()):
        left.append(('central directory', original))
assert not left, left
names = z.namelist()
assert any(n.endswith('notes.txt') for n in names) and any(n.endswith('blob.bin') for n in names), names
applog = z.read('GleanAppLog.log')[2:].decode('utf-16-le')
assert 'Личные данные заменены условными обозначениями: user ' in applog, applog[-400:]
key = open(key_path, encoding='utf-8-sig', newline='').read().split('\r\n')
assert key[0].startswith('Glean privacy key: the stand-ins in masked.zip '), key[0]
pairs = dict(line.split('\t', 1) for line in key[1:] if line)
for original in originals:
    assert any(v.lower() == original.lower() for v in pairs.values()), (original, pairs)
assert re.fullmatch(r'user\d+', next(k for k, v in pairs.items() if v.lower() == user.lower()))
print(f'{len(originals)} originals hidden; the key has {len(pairs)} pairs')
PY

# Mask=0: every entry as without the section but the settings file and
# the logs that hold the run's own times.
{ common; printf '%s\r\n' '[Privacy]' 'Mask=0' 'Word1=Bluebird'; } >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$work/off/off.zip")" || { echo "Mask=0 run: exit code $?"; fail=1; }
common >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$work/plain/plain.zip")" || { echo "plain run: exit code $?"; fail=1; }
ls "$work/off" | grep -q privacy-key && { echo "a key without masking"; fail=1; }
/usr/bin/python3 - "$work/off/off.zip" "$work/plain/plain.zip" <<'PY' || fail=1
import zipfile, sys
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
assert a.namelist() == b.namelist(), (a.namelist(), b.namelist())
timed = {'Glean.ini', 'GleanMain.log', 'GleanAppLog.log', 'GleanFiles.log', 'GleanSummary.html', 'GleanManifest.json'}
for name in a.namelist():
    if name not in timed and not name.endswith('/'):
        assert a.read(name) == b.read(name), f'{name} differs'
PY
[ $fail -eq 0 ] && echo "privacy checks passed"
exit $fail
