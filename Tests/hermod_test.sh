#!/usr/bin/env bash
# The mail sender from the outside: help and every error text with the logo
# where it belongs, exit codes, output to a new file (FF FE and UTF-16), to
# a file that holds data and to a pipe (code page); the Extended MAPI route
# end to end through the test mail system (registered as the default mail
# client), its cancel and a failed name resolution, also into a closed
# pipe; the Simple MAPI route through a test MAPI32.dll beside the program,
# with MAPISendMail only and with MAPISendMailW (the one in the folder
# "unicode" beside the first), for a temporary folder outside the ANSI code
# page.
#   hermod_test.sh HERMOD_EXE TEST_MAPI_PROVIDER_DLL TEST_SIMPLE_MAPI_DLL WORK_DIR
set -u
hermod=$1 provider=$2 simple=$3 work=$4
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/bin" "$work/simple" "$work/unicode"
cp "$hermod" "$work/bin/Hermod.exe"
cp "$hermod" "$work/simple/Hermod.exe"
cp "$simple" "$work/simple/MAPI32.dll"
cp "$hermod" "$work/unicode/Hermod.exe"
cp "$(dirname "$simple")/unicode/MAPI32.dll" "$work/unicode/MAPI32.dll"
cp "$provider" "$work/TestMapiProvider.dll"
exe="$work/bin/Hermod.exe"
view=/reg:64; [ "${GLEAN_ARCH:-x64}" = x86 ] && view=/reg:32
clients='HKLM\Software\Clients\Mail'
previous=$("$WINE" reg query "$clients" /ve $view 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
environment='HKCU\Environment'
temp=$("$WINE" reg query "$environment" /v TEMP 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
tmp=$("$WINE" reg query "$environment" /v TMP 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
restore() {
  "$WINE" reg add "$clients" /ve /d "$previous" /f $view >/dev/null 2>&1; "$WINE" reg delete "$clients\\GleanTestMail" /f $view >/dev/null 2>&1
  "$WINE" reg add "$environment" /v TEMP /d "$temp" /f >/dev/null 2>&1; "$WINE" reg add "$environment" /v TMP /d "$tmp" /f >/dev/null 2>&1
}
trap restore EXIT
"$WINE" reg add "$clients" /ve /d GleanTestMail /f $view >/dev/null 2>&1
"$WINE" reg add "$clients\\GleanTestMail" /v DllPathEx /d "$(win "$work/TestMapiProvider.dll")" /f $view >/dev/null 2>&1
fail=0
logo='\r\nHermod\r\nZarvo mail sender\r\n1.0.0.0\r\nCopyright (C) 2026 Zarvo\r\n\r\n'
block() { printf '\\r\\n%s\\r\\n\\r\\n' "$1"; }
# The expected output is a printf format: \r and \n as escapes.
check() { # name expected-rc expected-output actual-rc actual-file
  [ "$4" = "$2" ] || { echo "$1: exit code $4, expected $2"; fail=1; }
  printf "$3" >"$work/expected.txt"
  cmp -s "$work/expected.txt" "$5" || { echo "$1: output"; od -c "$5" | head -20; fail=1; }
}
run() { "$WINE" "$exe" "$@" | cat >"$work/out.txt"; rc=${PIPESTATUS[0]}; }

# Errors, through a pipe (code page): the logo comes first unless -nologo
# came before the failing argument.
run -x -nologo; check 'bad argument' 255 "$logo$(block 'The argument -x is invalid.')" $rc "$work/out.txt"
run -nologo -x; check 'bad argument after -nologo' 255 "$(block 'The argument -x is invalid.')" $rc "$work/out.txt"
run -nologo -subjects:x; check 'a key longer than the option' 255 "$(block 'The argument -subjects:x is invalid.')" $rc "$work/out.txt"
run -nologo plain; check 'plain argument' 255 "$(block 'The argument plain is invalid.')" $rc "$work/out.txt"
run -s:x; check 'no recipient' 255 "$logo$(block 'No recipients specified')" $rc "$work/out.txt"
run -nologo -uilanguage:abc -r:a; check 'bad language' 255 "$(block 'The argument abc specifies an invalid language code.')" $rc "$work/out.txt"
run -nologo -r:; grep -qi 'Internal Program Error' "$work/out.txt" && [ $rc -eq 255 ] || { echo "empty recipient: rc $rc"; cat "$work/out.txt"; fail=1; }
usage=$(printf '%s\\r\\n' 'Hermod.exe [-?] [-nologo] [-s:text] [-b:text] [-a:path ...] -r:address ...' \
  '    -?, -help           Display help messages' '    -nologo             Do not display logo' \
  '    -s, -subject        Message subject' '    -b, -body           Message body' \
  '    -a, -attachment     Path to attachment file' '    -r, -recipient      Recipient address')
run -HELP; check 'help' 255 "$logo\\r\\n$usage\\r\\n\\r\\n" $rc "$work/out.txt"

# A new file gets FF FE and UTF-16; a file with data gets the code page.
"$WINE" "$exe" -? >"$work/new.txt"; rc=$?
[ $rc -eq 255 ] || { echo "help into a file: rc $rc"; fail=1; }
expected=$( { printf '\xff\xfe'; printf "$logo" | iconv -f utf-8 -t utf-16le; } | od -An -tx1 | head -3)
[ "$(od -An -tx1 "$work/new.txt" | head -3)" = "$expected" ] || { echo "new file:"; od -c "$work/new.txt" | head -4; fail=1; }
printf 'held\r\n' >"$work/old.txt"
"$WINE" "$exe" -nologo -x >>"$work/old.txt"; rc=$?
check 'file with data' 255 "held\\r\\n$(block 'The argument -x is invalid.')" $rc "$work/old.txt"

# Extended MAPI: subject and body set also when empty, recipients resolved
# as "name[address]" and "[address]", the existing attachment with its
# name and bytes, the missing one dropped; nothing printed, exit code 0.
head -c 100000 /dev/urandom >"$work/attached.bin"
export GLEAN_TEST_MAPI_LOG
GLEAN_TEST_MAPI_LOG=$(win "$work/mapi.log")
run -s: -b: '-r:Zarvo Support <support@zarvo.com>' -r:bare@example.com "-a:$(win "$work/attached.bin")" "-a:$(win "$work/missing.bin")"
check 'extended route' 0 '' $rc "$work/out.txt"
/usr/bin/python3 - "$work" <<'PY' || fail=1
import sys
work = sys.argv[1]
log = open(f'{work}/mapi.log', encoding='utf-8').read().splitlines()
def has(line): assert line in log, (line, log)
has('MAPILogonEx ui=0 profile=null password=null flags=0x8020')
has('MAPILogonEx ui=0 profile=null password=null flags=0x80000062')
has('OpenMsgStore ui=0 entry=store interface=null flags=0x4')
has('OpenEntry store entry=outbox interface=null flags=0x1')
has('OpenAddressBook ui=0 interface=null flags=0x1')
has('SetProps message PR_DELETE_AFTER_SUBMIT=true')
has('ResolveName ui=0 flags=0x80000000 title=null PR_DISPLAY_NAME_W=Zarvo Support[support@zarvo.com] PR_RECIPIENT_TYPE=1')
has('ResolveName ui=0 flags=0x80000000 title=null PR_DISPLAY_NAME_W=[bare@example.com] PR_RECIPIENT_TYPE=1')
has('SetProps message PR_SUBJECT_W=')
has('SetProps message PR_BODY_W=')
has('SetProps attachment PR_ATTACH_FILENAME_W=attached.bin')
has('SaveChanges attachment flags=0x2')
has('ShowForm ui=0 store=given folder=given interface=null token=7 sent=null flags=0x1 status=0 messageFlags=8 access=3 class=IPM.Note')
has('FlushQueues ui=0 transport=null flags=0x1a')
assert sum(l.startswith('CreateAttach') for l in log) == 1, 'the missing attachment was not dropped'
assert open(f'{work}/mapi.log.1.attached.bin', 'rb').read() == open(f'{work}/attached.bin', 'rb').read()
released = [l for l in log if l in ('Release address book', 'Release outbox', 'Release store', 'Release session')]
assert released[-4:] == ['Release address book', 'Release outbox', 'Release store', 'Release session'], released
assert log[-1] == 'MAPIUninitialize', log[-1]
PY
rm -f "$work"/mapi.log*
GLEAN_TEST_MAPI_MODE=cancel run -r:a@b.c; check 'form cancelled' 0 '' $rc "$work/out.txt"
rm -f "$work"/mapi.log*
GLEAN_TEST_MAPI_MODE=unresolved run -r:nobody; check 'resolution failed' 0 'Unknown COM error. Error code: 0x8004010F\r\n' $rc "$work/out.txt"
grep -q '^ShowForm' "$work/mapi.log" && { echo "a form was shown although resolution failed"; fail=1; }
# Glean gives "-r:<>" when the settings name no recipient: the mail system
# is asked to resolve the empty name and answers for itself.
rm -f "$work"/mapi.log*
run '-r:<>'; check 'empty recipient name and address' 0 '' $rc "$work/out.txt"
grep -qx 'ResolveName ui=0 flags=0x80000000 title=null PR_DISPLAY_NAME_W= PR_RECIPIENT_TYPE=1' "$work/mapi.log" ||
  { echo "empty recipient: not resolved"; cat "$work/mapi.log"; fail=1; }
# An error report that cannot be written (the pipe's reader has gone) still
# ends the run with -1, without a crash: an error of the run, and the
# mail system's error that the send reports on its own, inside the
# library's reporting (where a failed check would abort the process).
"$WINE" "$exe" -x 2>"$work/err.txt" | (exit 0); rc=${PIPESTATUS[0]}
[ $rc -eq 255 ] && ! grep -qiE 'unhandled|terminate|exception' "$work/err.txt" ||
  { echo "report into a closed pipe: rc $rc"; cat "$work/err.txt"; fail=1; }
# An abort would wait on its message box: the run gets a minute.
GLEAN_TEST_MAPI_MODE=unresolved timeout 60 "$WINE" "$exe" -r:nobody 2>"$work/err.txt" | (exit 0); rc=${PIPESTATUS[0]}
[ $rc -eq 255 ] && ! grep -qiE 'unhandled|terminate|exception|double' "$work/err.txt" ||
  { echo "mail system's error into a closed pipe: rc $rc"; cat "$work/err.txt"; fail=1; }

# Simple MAPI, where the logon is refused: one message per recipient, a
# recipient without a name left out, the empty body left out.
rm -f "$work"/mapi.log*
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mapi32=n,b"
exe="$work/simple/Hermod.exe"
GLEAN_TEST_MAPI_MODE=refuse-logon run -s:Subject '-r:Named <named@x.com>' -r:bare@x.com "-a:$(win "$work/attached.bin")"
check 'simple route' 0 '' $rc "$work/out.txt"
expected="MAPISendMail session=0 ui=0 flags=0x9 reserved=0 subject=\"Subject\" body=null originator=null
recipient class=1 name=\"Named\" address=\"named@x.com\" entry=null
file flags=0 position=0xffffffff path=\"$(win "$work/attached.bin")\" name=\"attached.bin\" type=null size=100000
end recipients=1 files=1
MAPISendMail session=0 ui=0 flags=0x9 reserved=0 subject=\"Subject\" body=null originator=null
file flags=0 position=0xffffffff path=\"$(win "$work/attached.bin")\" name=\"attached.bin\" type=null size=100000
end recipients=0 files=1"
[ "$(grep -v '^MAPI[IULF]\|^Release\|^Free' "$work/mapi.log")" = "$expected" ] || { echo "simple messages:"; cat "$work/mapi.log"; fail=1; }
# The installer's qualifier of the default client is its whole multi-string.
rm -f "$work"/mapi.log*
"$WINE" reg add "$clients\\GleanTestMail" /v MSIComponentID /d '{GLEAN-TEST}' /f $view >/dev/null 2>&1
"$WINE" reg add "$clients\\GleanTestMail" /v MSIApplicationLCID /t REG_MULTI_SZ /d 'Software\Test\0LCID\0Name' /f $view >/dev/null 2>&1
GLEAN_TEST_MAPI_MODE=refuse-logon run -r:'A <a@b.c>'
grep -qx 'FGetComponentPath component={GLEAN-TEST} qualifier=Software\\Test|LCID|Name install=1' "$work/mapi.log" ||
  { echo "installer qualifier:"; cat "$work/mapi.log"; fail=1; }
"$WINE" reg delete "$clients\\GleanTestMail" /v MSIComponentID /f $view >/dev/null 2>&1
GLEAN_TEST_MAPI_MODE=refuse-logon,simple-cancel run -r:'A <a@b.c>'; check 'simple cancelled' 0 '' $rc "$work/out.txt"
GLEAN_TEST_MAPI_MODE=refuse-logon,simple-fail run -nologo -r:'A <a@b.c>'
check 'simple failed' 255 "$(block 'The mail system did not send the message (MAPI error 2).')" $rc "$work/out.txt"

# A temporary folder outside the ANSI code page (a Cyrillic user name; Wine
# takes code page 1252 for LC_ALL=C.UTF-8), on both Simple MAPI routes: the
# mail system opens the attachment by the path it is given and reads its
# bytes. Glean's copy in a folder of its own goes by its short form; a file
# so deep that not even that fits MAX_PATH goes as a copy in the system's
# temporary folder (the user's is outside the code page), removed after the
# send. MAPISendMail gets "?" for the subject and body (the code page has
# no Cyrillic), the address for the name, "_" in the attachment's name;
# MAPISendMailW gets them as they are.
user="$work/Пользователь"
mkdir -p "$user/Temp/tmp1A2B"
cp "$work/attached.bin" "$user/Temp/tmp1A2B/Glean.zip"
deep="$user/Temp"; for i in $(seq 30); do deep="$deep/Папка-$i"; done
mkdir -p "$deep" && head -c 50000 /dev/urandom >"$deep/Отчёт.zip"
for name in TEMP TMP; do "$WINE" reg add "$environment" /v $name /d "$(win "$user/Temp")" /f >/dev/null 2>&1; done
for route in simple unicode; do
  for attached in "$user/Temp/tmp1A2B/Glean.zip" "$deep/Отчёт.zip"; do
    rm -f "$work"/mapi.log*
    GLEAN_TEST_MAPI_MODE=refuse-logon "$WINE" "$work/$route/Hermod.exe" -s:Отчёт -b:Текст '-r:Служба <support@zarvo.com>' \
      "-a:$(win "$attached")" | cat >"$work/out.txt"
    what="$route route, $(basename "$attached")"
    check "$what" 0 '' ${PIPESTATUS[0]} "$work/out.txt"
    /usr/bin/python3 - "$work" "$route" "$attached" "$(win "$attached")" "$WINEPREFIX/drive_c" <<'PY' || { echo "$what"; fail=1; }
import os, sys
work, route, attached, given, drive = sys.argv[1:]
log = open(f'{work}/mapi.log', encoding='utf-8', errors='replace').read().splitlines()
sent = [l for l in log if l.startswith('MAPISendMail')]
files = [l for l in log if l.startswith('file ')]
recipients = [l for l in log if l.startswith('recipient ')]
assert len(sent) == 1 and len(files) == 1 and len(recipients) == 1, log
path = files[0].split(' path="')[1].split('" name=')[0]
shown = files[0].split(' name="')[1].split('" type=')[0]
deep = not attached.endswith('Glean.zip')
name = 'Отчёт.zip' if deep else 'Glean.zip'
# The path opened as the mail system opens it, and the bytes it read.
assert path.isascii() and '?' not in path and len(path) < 260, path
assert files[0].endswith(f' size={os.path.getsize(attached)}'), files[0]
assert open(f'{work}/mapi.log.sent.1', 'rb').read() == open(attached, 'rb').read(), 'the bytes differ'
if deep:
    assert path.lower().startswith('c:\\windows\\temp\\mail') and path.endswith('\\_____.zip'), path
    left = [n for n in os.listdir(f'{drive}/windows/temp') if n.lower().startswith('mail')]
    assert not left, f'the copy was left: {left}'
else:
    assert path != given and '~' in path, path
if route == 'simple':
    assert sent[0].startswith('MAPISendMail ') and 'subject="?????" body="?????"' in sent[0], sent[0]
    assert recipients[0] == 'recipient class=1 name="support@zarvo.com" address="support@zarvo.com" entry=null', recipients
    assert shown == ('_____.zip' if deep else name), shown
else:
    assert sent[0].startswith('MAPISendMailW ') and 'subject="Отчёт" body="Текст"' in sent[0], sent[0]
    assert recipients[0] == 'recipient class=1 name="Служба" address="support@zarvo.com" entry=null', recipients
    assert shown == name, shown
PY
  done
done
[ $fail -eq 0 ] && echo "mail sender checks passed"
exit $fail
