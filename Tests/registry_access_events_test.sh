#!/usr/bin/env bash
# Registry exports, the access log and the event logs of a real silent run.
# Keys made with `reg add` come back line for line and import again to the
# same values; the "*" expansion skips the gaps; a whole root is refused.
# The saved event logs and .evt files of made-up records (written by the
# event-log unit tests of GLEAN_TESTS) are read by libevt's evtinfo and
# evtexport.
#   registry_access_events_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR GLEAN_TESTS_EXE
set -u
glean=$1 module=$2 work=$3 unitTests=$4
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work"
mkdir -p "$work/app" "$work/obj/folder" "$work/made-up"
evts="$work/made-up"
GLEAN_EVT_OUTPUT=$(win "$evts") "$WINE" "$unitTests" --gtest_brief=1 --gtest_filter='EventLogFile.HeaderRecordsAndEndRecord' \
  >"$work/unit.log" 2>&1 || { cat "$work/unit.log"; echo "made-up logs not written"; exit 1; }
cp "$glean" "$module" "$work/app/"
base='HKCU\Software\GleanExportTest'
"$WINE" reg delete "$base" /f >/dev/null 2>&1
reg() { "$WINE" reg add "$@" /f >/dev/null 2>&1 || echo "reg add $* failed"; }
reg "$base\Main" /ve /d 'x'
reg "$base\Main" /v 'a"b\c' /d 'quote " and \ back'
reg "$base\Main" /v Dword /t REG_DWORD /d 255
reg "$base\Main" /v Bin /t REG_BINARY /d 0aff
reg "$base\Main" /v EmptyBin /t REG_BINARY
reg "$base\Main" /v Expand /t REG_EXPAND_SZ /d '%SystemRoot%\system32\some\rather\long\path\to\a\file\that\wraps.dll'
reg "$base\Main" /v Multi /t REG_MULTI_SZ /d 'first string\0second string\0third string that is a little longer'
reg "$base\Main" /v Quad /t REG_QWORD /d 5
reg "$base\Main\Sub\Deeper" /v Inner /d deep
reg "$base\Numbered1" /v N /d one
reg "$base\Numbered3" /v N /d three
printf 'data' >"$work/obj/file.txt"
{ printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Registry]' \
  "Main.reg=HKEY_CURRENT_USER\\Software\\GleanExportTest\\Main" \
  "Numbered.reg=HKEY_CURRENT_USER\\Software\\GleanExportTest\\Numbered*" \
  "Missing.reg=HKEY_CURRENT_USER\\Software\\GleanExportTest\\Missing" \
  "Root.reg=HKEY_CURRENT_USER" \
  '[Access]' "File1=$(win "$work/obj/file.txt")" "File2=$(win "$work/obj/folder")" \
  "File3=$(win "$work/obj/missing.txt")" 'Key1=HKEY_LOCAL_MACHINE\SOFTWARE' \
  '[EventLog]' 'Log1=Application' 'Log2=System' 'Log2Sources=Service Control Manager'; } \
  >"$work/app/Glean.ini"
out="$work/out.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ -f "$out" ] || { echo "no archive"; exit 1; }
"$here/check_zip.sh" "$out" >/dev/null || { "$here/check_zip.sh" "$out"; fail=1; }
mkdir -p "$work/x" && (cd "$work/x" && unzip -q "$out") || fail=1
/usr/bin/python3 - "$work/x" <<'PY' || fail=1
import os, sys
x = sys.argv[1]
names = sorted(os.listdir(x))
def text(name):
    data = open(os.path.join(x, name), 'rb').read()
    assert data[:2] == b'\xff\xfe', name
    return data[2:].decode('utf-16-le').split('\r\n')
for n in ['GleanAccess.log', 'Main.reg', 'Numbered1.reg', 'Numbered3.reg', 'EventLog']:
    assert n in names, (n, names)
for n in ['Missing.reg', 'Root.reg', 'Numbered2.reg']:
    assert n not in names, n
main = text('Main.reg')
root = 'HKEY_CURRENT_USER\\Software\\GleanExportTest\\Main'
expand = ('%SystemRoot%\\system32\\some\\rather\\long\\path\\to\\a\\file\\that\\wraps.dll'
          .encode('utf-16-le') + b'\0\0')
multi = b'\0'.join(s.encode('utf-16-le') for s in ['first string', 'second string',
        'third string that is a little longer']) .replace(b'\0', b'\0\0') if False else \
        ('first string\0second string\0third string that is a little longer\0\0').encode('utf-16-le')
def wrap2(name, data):
    out, counter = '"%s"=hex(2):' % name, len(name) + 10
    for i, b in enumerate(data):
        out += '%02x,' % b; counter += 3
        if counter > 76 and i + 1 < len(data):
            out += '\\\r\n  '; counter = 2
    return out[:-1]
def wrap7(name, data):
    lines, line = [], '"%s"=hex(7):' % name
    for b in data:
        if len(line) > 76:
            lines.append(line + '\\'); line = '  '
        line += '%02x,' % b
    lines.append(line[:-1])
    return lines
values = {'@="x"', '"a\\"b\\\\c"="quote \\" and \\\\ back"', '"Dword"=dword:000000ff', '"Bin"=hex:0A,FF',
          '"EmptyBin"=hex:'}
body = main[2:]
assert main[0] == 'Windows Registry Editor Version 5.00' and main[1] == '', main[:2]
assert body[0] == '[%s]' % root, body[0]
joined = '\r\n'.join(body)
for v in values:
    assert ('\r\n' + v + '\r\n') in joined, (v, body)
assert wrap2('Expand', expand) in joined, (wrap2('Expand', expand), body)
assert '\r\n'.join(wrap7('Multi', multi)) in joined, (wrap7('Multi', multi), body)
assert all(len(l) <= 80 for l in body), [l for l in body if len(l) > 80]
assert 'Quad' not in joined
# Subkeys after every value of their parent, depth first.
tail = body[body.index('[%s\\Sub]' % root) - 1:]
assert tail == ['', '[%s\\Sub]' % root, '', '[%s\\Sub\\Deeper]' % root, '"Inner"="deep"', ''], tail
assert text('Numbered3.reg')[2:4] == ['[HKEY_CURRENT_USER\\Software\\GleanExportTest\\Numbered3]', '"N"="three"']
app = '\n'.join(text('GleanAppLog.log'))
assert 'HKEY_CURRENT_USER\\Software\\GleanExportTest\\Missing' in app, app
assert 'HKEY_CURRENT_USER\\Software\\GleanExportTest\\Numbered*' not in app
assert 'HKEY_CURRENT_USER не выгружен' in app, app
# The access log. Wine does not implement GetEffectiveRightsFromAclW (error
# 1), so each account gets the error line in place of its rights.
access = text('GleanAccess.log')
assert access[0].startswith('Учётная запись текущего пользователя: ') and access[0].endswith(')'), access[0]
assert access[1] == 'Системная учётная запись: NT AUTHORITY\\SYSTEM (S-1-5-18)', access[1]
blocks = '\r\n'.join(access[2:]).split('\r\n\r\n')
missing = [b for b in blocks if 'missing.txt]:' in b][0].split('\r\n')
assert missing[1] == '\tОшибка при получении дескриптора безопасности', missing
assert 'Код: 0x00000002' in app, app
key = [b for b in blocks if b.startswith('[MACHINE\\SOFTWARE]:')][0].split('\r\n')
for b in [key] + [[l for l in bl.split('\r\n')] for bl in blocks if 'file.txt]:' in bl or 'folder]:' in bl]:
    assert b[1].startswith('\tSDDL: D:'), b
    assert b[2:] == ['\tОшибка при получении прав доступа'] * 2, b
assert app.count('Ошибка при получении прав доступа:  \n\tУчетная запись: ') == 6, app
evts = sorted(os.listdir(os.path.join(x, 'EventLog')))
assert evts == ['Application.evt', 'System.evt'], evts
for e in evts:
    assert os.path.getsize(os.path.join(x, 'EventLog', e)) == 88
print('registry, access and event-log checks passed')
PY
# The exports import again to the same values (a REG_QWORD has no line in
# the format, so it is not there to come back).
before=$("$WINE" reg query "$base\Main" /s 2>/dev/null | grep -v REG_QWORD)
"$WINE" reg delete "$base" /f >/dev/null 2>&1
"$WINE" reg import "$(win "$work/x/Main.reg")" >/dev/null 2>&1 || { echo "reg import failed"; fail=1; }
after=$("$WINE" reg query "$base\Main" /s 2>/dev/null)
[ -n "$before" ] && [ "$before" = "$after" ] || { echo "import gives other values"; diff <(echo "$before") <(echo "$after"); fail=1; }
"$WINE" reg delete "$base" /f >/dev/null 2>&1
# libevt reads every saved log and every made-up one.
for f in "$work"/x/EventLog/*.evt "$evts"/*.evt; do
  info=$(evtinfo "$f" 2>&1) || { echo "evtinfo failed on $f: $info"; fail=1; continue; }
  expected=$(basename "$f" .evt | sed -n 's/.*-\([0-9]*\)records$/\1/p')
  [ -n "$expected" ] || expected=0
  count=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Number of records[[:space:]]*:[[:space:]]*\([0-9]*\).*/\1/p')
  [ "$count" = "$expected" ] || { echo "$f: $count records, expected $expected"; printf '%s\n' "$info"; fail=1; }
  exported=$(evtexport "$f" 2>&1) || { echo "evtexport failed on $f"; fail=1; continue; }
  numbers=$(printf '%s\n' "$exported" | sed -n 's/^Event number[[:space:]]*:[[:space:]]*\([0-9]*\)/\1/p' | tr '\n' ' ')
  want=$(seq -s ' ' 1 "$expected" 2>/dev/null); [ -n "$want" ] && want="$want "
  [ "$numbers" = "$want" ] || { echo "$f: record numbers '$numbers', expected '$want'"; fail=1; }
  # Of the made-up records only the first of every three has the source
  # "GleanTest" (the others "Other" and "gleantest"), and only those are kept.
  case $(basename "$f") in Made-*)
    ids=$(printf '%s\n' "$exported" | sed -n 's/^Event identifier.*(\([0-9]*\))$/\1/p' | tr '\n' ' ')
    [ "$ids" = "1 4 7 10 " ] || { echo "$f: event identifiers '$ids'"; fail=1; }
    sources=$(printf '%s\n' "$exported" | sed -n 's/^Source name[[:space:]]*:[[:space:]]*//p' | sort -u | tr '\n' ' ')
    [ "$sources" = "GleanTest " ] || { echo "$f: sources '$sources'"; fail=1; } ;;
  esac
done
[ $fail -eq 0 ] && echo "registry export, access log and event log checks passed"
exit $fail
