#!/usr/bin/env bash
# Send from the dialog with the test mail system: the mail sender matching
# the installed Outlook's bitness is written out and run (the 32-bit one
# without Outlook, the 64-bit one for Outlook 16 with "Bitness" x64), the
# dialog stays alive while it runs, and the message carries the collected
# archive byte for byte; an error of the mail sender comes up in a message
# box; an archive too large for mail is only sent after a question; with a
# temporary folder outside the ANSI code page, the Simple MAPI route hands
# the mail system a path it opens. A
# 64-bit-only prefix cannot run the 32-bit mail
# sender, so there only the 64-bit case is tried.
#   send_test.sh GLEAN_EXE GLEAN0_DLL UIDRIVER_EXE OWN_PROVIDER_DLL OTHER_PROVIDER_DLL WORK_DIR
set -u
glean=$1 module=$2 driver=$3 own=$4 other=$5 work=$6
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/x86" "$work/x64"
cp "$glean" "$module" "$work/app/"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' 'RecipientName=Test Support' 'RecipientAddress=support@test.example' \
  >"$work/app/Glean.ini"
arch=${GLEAN_ARCH:-x64}
if [ "$arch" = x86 ]; then cases="none x64"; cp "$own" "$work/x86/"; cp "$other" "$work/x64/"
else cases="x64"; cp "$own" "$work/x64/"; fi
clients='HKLM\Software\Clients\Mail'
shell='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
reg() { "$WINE" reg "$@" >/dev/null 2>&1; }
previous32=$("$WINE" reg query "$clients" /ve /reg:32 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
previous64=$("$WINE" reg query "$clients" /ve /reg:64 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
previous_temp=$("$WINE" reg query 'HKCU\Environment' /v TEMP 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
previous_tmp=$("$WINE" reg query 'HKCU\Environment' /v TMP 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
cleanup() {
  reg add "$clients" /ve /d "$previous64" /f /reg:64
  reg delete "$clients\\GleanTestMail" /f /reg:64
  if [ "$arch" = x86 ]; then reg add "$clients" /ve /d "$previous32" /f /reg:32; reg delete "$clients\\GleanTestMail" /f /reg:32; fi
  reg delete 'HKCR\Outlook.Application' /f /reg:32
  reg delete 'HKLM\Software\Microsoft\Office\16.0' /f /reg:32
  reg add "$shell" /v Personal /t REG_EXPAND_SZ /d '%USERPROFILE%\Documents' /f
  reg add 'HKCU\Environment' /v TEMP /d "$previous_temp" /f
  reg add 'HKCU\Environment' /v TMP /d "$previous_tmp" /f
}
trap cleanup EXIT
for bits in x86 x64; do
  [ -f "$work/$bits/TestMapiProvider.dll" ] || continue
  view=/reg:64; [ $bits = x86 ] && view=/reg:32
  reg add "$clients" /ve /d GleanTestMail /f $view
  reg add "$clients\\GleanTestMail" /v DllPathEx /d "$(win "$work/$bits/TestMapiProvider.dll")" /f $view
done
fail=0
ui() { "$WINE" "$driver" "$@"; }
main=Glean+1000
until_ok() { local s=$1; shift; for _ in $(seq $((s * 5))); do "$@" && return 0; sleep 0.2; done; return 1; }
temp=$(echo "$WINEPREFIX"/drive_c/users/*/Temp)
export GLEAN_TEST_MAPI_LOG GLEAN_TEST_MAPI_MODE=slow
for outlook in $cases; do
  log="$work/mapi-$outlook.log"
  GLEAN_TEST_MAPI_LOG=$(win "$log")
  if [ $outlook = x64 ]; then
    reg add 'HKCR\Outlook.Application\CurVer' /ve /d Outlook.Application.16 /f /reg:32
    reg add 'HKLM\Software\Microsoft\Office\16.0\Outlook' /v Bitness /d x64 /f /reg:32
  fi
  "$WINE" "$work/app/Glean.exe" &
  pid=$!
  ui wait "$main" 60 >/dev/null || { echo "no dialog"; kill $pid; exit 1; }
  ui click "$main" 1003 5 >/dev/null
  # While the form is open the dialog answers, with Save and Send disabled.
  until_ok 60 grep -qs '^ShowForm' "$log" || { echo "$outlook: no form shown"; fail=1; }
  ui details "$main" 5 | grep -q '^control 1003 .*enabled=0' || { echo "$outlook: Send enabled while sending"; fail=1; }
  until_ok 30 sh -c "'$WINE' '$driver' details '$main' 5 | grep -q '^control 1003 .*enabled=1'" ||
    { echo "$outlook: Send not enabled after the mail sender ended"; fail=1; }
  expected=x86; [ $outlook = x64 ] && expected=x64
  grep -q "provider=$expected" "$log" || { echo "Outlook $outlook: not the $expected mail sender: $(grep provider "$log")"; fail=1; }
  grep -q 'ResolveName .*PR_DISPLAY_NAME_W=Test Support\[support@test.example\]' "$log" || { echo "$outlook: recipient"; fail=1; }
  grep -q 'PR_SUBJECT_W=Diagnostic information' "$log" || { echo "$outlook: subject"; fail=1; }
  sent="$log.1.Glean.zip"
  archive=$(ls "$temp"/tmp?????/Glean.zip 2>/dev/null | head -1)
  if [ -f "$sent" ] && [ -n "$archive" ]; then
    cmp -s "$sent" "$archive" || { echo "$outlook: the attachment differs from the archive"; fail=1; }
    "$here/check_zip.sh" "$sent" >/dev/null || { echo "$outlook: the attachment is no valid archive"; fail=1; }
  else
    echo "$outlook: attachment $sent or archive '$archive' missing"; fail=1
  fi
  # A second Send removes what the first left: one copy for the mail, one
  # mail sender and one archive in the temporary folder.
  ui click "$main" 1003 5 >/dev/null
  until_ok 60 sh -c "[ \$(grep -c '^ShowForm' '$log') -ge 2 ]" || { echo "$outlook: no second form"; fail=1; }
  until_ok 30 sh -c "'$WINE' '$driver' details '$main' 5 | grep -q '^control 1003 .*enabled=1'"
  copies=$(ls -d "$temp"/tmp????? 2>/dev/null | wc -l)
  files=$(ls "$temp" | grep -cE '^tmp.....\.tmp$')
  [ "$copies" = 1 ] && [ "$files" = 2 ] || { echo "$outlook: after two sends $copies copies and $files files"; fail=1; }
  ui click "$main" 1002 5 >/dev/null
  wait $pid
  ls -d "$temp"/tmp????? 2>/dev/null | grep -q . && { echo "$outlook: the folder of the sent archive was left"; fail=1; }
done
# An archive above MaxMailSizeMB (20 by default): the user is asked first,
# and "No" saves the archive already collected instead, without a second
# run; with MaxMailSizeMB=0 it is sent without a question.
head -c 25M /dev/urandom >"$work/big.bin"
GLEAN_TEST_MAPI_MODE=
for limit in default 0; do
  log="$work/mapi-limit-$limit.log"
  GLEAN_TEST_MAPI_LOG=$(win "$log")
  { printf '%s\r\n' '[Common]' 'AppName=Pagewise'; [ $limit = 0 ] && printf 'MaxMailSizeMB=0\r\n'
    printf '%s\r\n' '[OtherFiles]' "File1=$(win "$work/big.bin")"; } >"$work/app/Glean.ini"
  "$WINE" "$work/app/Glean.exe" &
  pid=$!
  ui wait "$main" 60 >/dev/null
  ui click "$main" 1003 5 >/dev/null
  if [ $limit = default ]; then
    box=$(ui wait Glean+65535 120) || { echo "no question before sending a large archive"; fail=1; }
    import -window root "$GLEAN_WINE_ROOT/../screenshots/send-large.png" 2>/dev/null
    printf '%s\n' "$box" | grep -q 'more than the 20 MB' || { echo "question: $box"; fail=1; }
    ui click Glean+65535 No 5 >/dev/null
    ui wait 'Save As' 60 >/dev/null || { echo "no save-file dialog after No"; fail=1; }
    ui settext 'Save As' 1148 "$(win "$work/instead.zip")"
    ui click 'Save As' Save 5 >/dev/null
    ui wait Glean+65535 60 | grep -q 'The archive was saved as' || { echo "no summary after saving instead"; fail=1; }
    ui click Glean+65535 OK 5 >/dev/null
    unzip -tq "$work/instead.zip" >/dev/null 2>&1 || { echo "the archive saved instead is not valid"; fail=1; }
    runs=$(unzip -p "$work/instead.zip" GleanAppLog.log | iconv -f UTF-16 -t UTF-8 | grep -c 'big.bin был добавлен')
    [ "$runs" = 1 ] || { echo "$runs runs before saving instead, expected 1"; fail=1; }
    grep -qs '^ShowForm' "$log" && { echo "sent although the user chose to save"; fail=1; }
  else
    until_ok 120 grep -qs '^ShowForm' "$log" || { echo "not sent with MaxMailSizeMB=0"; fail=1; }
  fi
  until_ok 60 sh -c "'$WINE' '$driver' details '$main' 5 | grep -q '^control 1003 .*enabled=1'"
  ui click "$main" 1002 5 >/dev/null
  wait $pid
done
rm -f "$work/big.bin"

# Masked, the key of the mailed archive goes into the user's documents (a
# folder of the test's here) under a dated name, and a message box names it
# once the mail sender has run.
mkdir -p "$work/docs"
reg add "$shell" /v Personal /t REG_EXPAND_SZ /d "$(win "$work/docs")" /f
GLEAN_TEST_MAPI_LOG=$(win "$work/mapi-masked.log")
printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Privacy]' 'Mask=1' >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" &
pid=$!
ui wait "$main" 60 >/dev/null
ui click "$main" 1003 5 >/dev/null
box=$(ui wait Glean+65535 120) || { echo "no message naming the key after Send"; fail=1; }
grep -qs '^ShowForm' "$work/mapi-masked.log" || { echo "the key's message came before the mail"; fail=1; }
key=$(ls "$work/docs")
printf '%s\n' "$key" | grep -qE '^Glean-[0-9]{8}-[0-9]{6}-privacy-key\.txt$' || { echo "key in the documents: $key"; fail=1; }
printf '%s\n' "$box" | grep -qF "saved as\\n$(win "$work/docs/$key")\\nKeep it here" || { echo "key's message: $box"; fail=1; }
head -c 60 "$work/docs/$key" | grep -q 'Glean privacy key: the stand-ins in Glean.zip' || { echo "not a key: $key"; fail=1; }
ui click Glean+65535 OK 5 >/dev/null
ui click "$main" 1002 5 >/dev/null
wait $pid

# Started without a console window, the mail sender shows its errors in a
# message box, where the user sees them.
GLEAN_TEST_MAPI_MODE=unresolved
printf '%s\r\n' '[Common]' 'AppName=Pagewise' >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" &
pid=$!
ui wait "$main" 60 >/dev/null
ui click "$main" 1003 5 >/dev/null
box=$(ui wait Hermod+65535 60) || { echo "no message box of the mail sender"; fail=1; }
printf '%s\n' "$box" | grep -q 'Unknown COM error. Error code: 0x8004010F' || { echo "mail sender's box: $box"; fail=1; }
ui click Hermod+65535 OK 5 >/dev/null
ui click "$main" 1002 5 >/dev/null
wait $pid

# The user's temporary folder outside the ANSI code page (a Cyrillic user
# name; Wine takes code page 1252 for LC_ALL=C.UTF-8) and no Extended MAPI
# logon: the mail sender, written out into that folder, loads the Simple
# MAPI stand-in of this build from there, and the stand-in opens the
# archive by the path it is given and reads it whole. This build's mail
# sender runs: the 64-bit one for the x64 Outlook, the 32-bit one without.
user="$work/Пользователь/Temp"
mkdir -p "$user"
cp "$(dirname "$own")/MAPI32.dll" "$user/"
for name in TEMP TMP; do reg add 'HKCU\Environment' /v $name /d "$(win "$user")" /f; done
[ "$arch" = x86 ] && reg delete 'HKLM\Software\Microsoft\Office\16.0' /f /reg:32
log="$work/mapi-simple.log"
GLEAN_TEST_MAPI_LOG=$(win "$log")
GLEAN_TEST_MAPI_MODE=refuse-logon
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mapi32=n,b"
"$WINE" "$work/app/Glean.exe" &
pid=$!
ui wait "$main" 60 >/dev/null
ui click "$main" 1003 5 >/dev/null
until_ok 120 grep -qs '^end recipients' "$log" || { echo "outside the code page: nothing sent"; cat "$log"; fail=1; }
archive=$(ls "$user"/tmp?????/Glean.zip 2>/dev/null | head -1)
grep -q "^file .*name=\"Glean.zip\" type=null size=$(stat -c %s "$archive" 2>/dev/null)\$" "$log" ||
  { echo "outside the code page: the archive was not read whole"; cat "$log"; fail=1; }
grep '^file ' "$log" | grep -q '?' && { echo "outside the code page: a path with \"?\""; fail=1; }
cmp -s "$log.sent.1" "$archive" || { echo "outside the code page: the bytes read differ from the archive"; fail=1; }
until_ok 30 sh -c "'$WINE' '$driver' details '$main' 5 | grep -q '^control 1003 .*enabled=1'"
ui click "$main" 1002 5 >/dev/null
wait $pid
[ $fail -eq 0 ] && echo "send checks passed"
exit $fail
