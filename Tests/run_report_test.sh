#!/usr/bin/env bash
# A real run's account of itself: the manifest in the archive is valid
# against its schema, lists every entry (but itself and the application log,
# written after it) with the sizes and CRC-32 of the central directory, and
# every item the application log names as failed, with its reason; the
# summary page renders in a real browser with a row for each failure and a
# box for each drive, and markup from the machine stays text: a settings key
# naming <script>alert(1)</script>.txt and a processor name holding markup,
# read from the registry into the main log.
#   run_report_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/data" "$work/page"
cp "$glean" "$module" "$work/app/"
cpu='HKLM\HARDWARE\DESCRIPTION\System\CentralProcessor\0'
saved=$("$WINE" reg query "$cpu" /v ProcessorNameString /reg:64 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *ProcessorNameString *REG_SZ *//p')
trap '"$WINE" reg add "$cpu" /v ProcessorNameString /d "$saved" /f /reg:64 >/dev/null 2>&1' EXIT
"$WINE" reg add "$cpu" /v ProcessorNameString /d '<img src=x onerror=alert(2)><script>alert(3)</script> CPU' \
  /f /reg:64 >/dev/null 2>&1 || { echo "cannot set the processor name"; exit 1; }
printf 'collected\r\n' >"$work/data/one.txt"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' \
  '[OtherFiles]' "File1=$(win "$work/data/one.txt")" "File2=$(win "$work/data")\\<script>alert(1)</script>.txt" \
  '[Registry]' 'Missing.reg=HKEY_CURRENT_USER\Software\GleanNoSuchKey' 'GleanManifest.json=HKEY_CURRENT_USER\Software\Wine' \
  '[EventLog]' 'Log1=Application' 'Log2=Application' >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out.zip")"; rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
"$here/check_zip.sh" "$work/out.zip" >/dev/null || { echo "archive invalid"; fail=1; }
/usr/bin/python3 - "$work/out.zip" "$work/page" <<'PY' || fail=1
import json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
assert names[-3:] == ['GleanSummary.html', 'GleanManifest.json', 'GleanAppLog.log'], names[-3:]
for name in ('GleanSummary.html', 'GleanManifest.json'):
    open(f'{sys.argv[2]}/{name}', 'wb').write(z.read(name))
manifest = json.loads(z.read('GleanManifest.json'))
items = manifest['items']
# Every entry with what the central directory says of it.
entries = {i['archiveName']: i for i in items if 'size' in i}
for info in z.infolist():
    if info.is_dir() or info.filename in ('GleanManifest.json', 'GleanAppLog.log'):
        continue
    if info.filename == 'GleanSummary.html':
        continue
    item = entries.get(info.filename)
    assert item, f'{info.filename} is not in the manifest'
    assert (item['size'], item['compressedSize'], int(item['crc32'], 16)) == \
        (info.file_size, info.compress_size, info.CRC), (info.filename, item)
# Every failure the application log names, with its reason.
log = z.read('GleanAppLog.log')[2:].decode('utf-16-le')
failed = {(i['source'], i['status'], i['message']['name']) for i in items if i['status'] != 'added'}
def has(source_part, status, message):
    return any(source_part in s and st == status and m == message for s, st, m in failed)
assert has('<script>alert(1)<', 'skipped', 'MSG_ITEM_FILE_MISSING'), failed
assert has('GleanNoSuchKey', 'skipped', 'MSG_REGISTRY_KEY_MISSING'), failed
assert has('Application', 'refused', 'MSG_ITEM_NAME_TAKEN'), failed
# A registry export may not take the name of the report's own entries.
assert has('Software\\Wine', 'refused', 'MSG_ITEM_NAME_TAKEN'), failed
assert all(i['message']['text'] for i in items if i['status'] != 'added')
assert manifest['threads'] >= 1 and manifest['program']['build'] in ('x86', 'x64'), manifest['program']
print(f"{len(items)} items, {len(failed)} not added")
PY
"$here/check_manifest.sh" "$here/../docs/manifest.schema.json" "$work/page/GleanManifest.json" run || fail=1
# The page's drives as the main log lists them, a bar for each measured one.
read -r drives bars < <(/usr/bin/python3 - "$work/out.zip" <<'PY'
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
main = z.read('GleanMain.log')[2:].decode('utf-16-le')
rows = re.findall(r'^[A-Z]:\\\t(.*)$', main, re.M)
print(len(rows), sum(r.startswith('Fixed') for r in rows))
PY
)
"$here/report_page_test.sh" "$work/page" "$drives" "$bars"; page=$?
[ $page -eq 77 ] && exit 77
[ $page -eq 0 ] || fail=1
grep -q '&lt;script&gt;alert(3)&lt;/script&gt; CPU' "$work/page/GleanSummary.dom.html" ||
  { echo "the processor's markup is not text on the page"; fail=1; }
[ $fail -eq 0 ] && echo "run report checks passed"
exit $fail
