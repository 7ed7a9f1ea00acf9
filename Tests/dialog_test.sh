#!/usr/bin/env bash
# The main dialog under Xvfb, driven through its controls: the texts and the
# system information shown, Save through the save-file dialog (Cancel, a new
# file, replacing a file only after the user agrees, a destination that
# cannot be written, then a second Save) with the summary of each saved
# archive (path, size, SHA-256), closing the window during a
# collection, and the right-to-left template for Arabic. Screenshots go to
# the build's screenshots folder.
#   dialog_test.sh GLEAN_EXE GLEAN0_DLL GLEAN61_DLL UIDRIVER_EXE FILE_LOCKER_EXE WORK_DIR
set -u
glean=$1 module=$2 arabic=$3 driver=$4 locker=$5 work=$6
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
shots="$GLEAN_WINE_ROOT/../screenshots"
mkdir -p "$shots"
rm -rf "$work" && mkdir -p "$work/app" "$work/out" "$work/data"
cp "$glean" "$module" "$work/app/"
printf 'collected\n' >"$work/data/collected.txt"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[OtherFiles]' "File1=$(win "$work/data/collected.txt")" >"$work/app/Glean.ini"
fail=0
ui() { "$WINE" "$driver" "$@"; }
main=Glean+1000
detail() { ui details "$main" 5 | grep "^control $1 "; }
enabled() { detail "$1" | grep -q 'enabled=1'; }
shot() { import -window root "$shots/$1.png" 2>/dev/null || true; }
# Waits until a command succeeds, at most the given seconds.
until_ok() { local s=$1; shift; for _ in $(seq $((s * 5))); do "$@" && return 0; sleep 0.2; done; return 1; }
# Save as PATH through the save-file dialog; the rest of the dialogs that
# follow are the caller's.
save_as() {
  ui click "$main" 1008 5 >/dev/null
  ui wait 'Save As' 60 >/dev/null || { echo "no save-file dialog"; fail=1; return 1; }
  ui settext 'Save As' 1148 "$(win "$1")"
  ui click 'Save As' Save 5 >/dev/null
}
buttons_back() { until_ok 60 enabled 1008 && enabled 1003; }
# The summary after a Save: where the archive went, its size in MB and the
# SHA-256 that sha256sum gives; then OK.
summary() {
  local box sha size
  box=$(ui wait Glean+65535 60) || { echo "no summary after saving $1"; fail=1; return; }
  [ -n "${2:-}" ] && shot "$2"
  text=$(printf '%s\n' "$box" | sed -n 's/^control 65535 Static //p')
  sha=$(sha256sum "$1" | cut -d' ' -f1)
  bytes=$(stat -c %s "$1")
  size=$(awk -v b="$bytes" 'BEGIN { printf "%.2f", b / 1048576 }')
  expected="The archive was saved as\\n$(win "$1")\\n\\nSize: $size MB ($bytes bytes)\\nSHA-256: $sha"
  [ "$text" = "$expected" ] || { echo "summary: $text"; echo "expected: $expected"; fail=1; }
  ui click Glean+65535 OK 5 >/dev/null
}
temp_files() { ls "$WINEPREFIX"/drive_c/users/*/Temp 2>/dev/null | grep -E '^(GML|GFL|GDL|GSL|GEL|GAL|tmp).....\.tmp$' || true; }
archive_app_log() { unzip -p "$1" GleanAppLog.log | iconv -f UTF-16 -t UTF-8; }

"$WINE" "$work/app/Glean.exe" &
pid=$!
out=$(ui wait "$main" 60) || { echo "the dialog did not open"; kill $pid; exit 1; }
shot dialog-ltr
for expected in 'control 103 Static System Information:' 'control 1008 Button Save' 'control 1003 Button Send' \
                'control 1002 Button Exit' 'control 1005 Static Press Save to store'; do
  printf '%s\n' "$out" | grep -qF "$expected" || { echo "missing: $expected"; fail=1; }
done
printf '%s\n' "$out" | grep -q '^window #32770 Glean$' || { echo "caption: $(printf '%s\n' "$out" | head -1)"; fail=1; }
ui text "$main" 1000 >"$work/shown-main-log.txt"
detail 1004 | grep -q 'visible=0' || { echo "the progress bar is shown before a run"; fail=1; }

# Cancel: nothing runs, both buttons come back.
ui click "$main" 1008 5 >/dev/null
ui wait 'Save As' 60 >/dev/null || { echo "no save-file dialog"; fail=1; }
enabled 1008 && { echo "Save is enabled while the file dialog is open"; fail=1; }
ui click 'Save As' Cancel 5 >/dev/null
buttons_back || { echo "buttons not enabled after Cancel"; fail=1; }

# A new file.
save_as "$work/out/first.zip"
summary "$work/out/first.zip" dialog-summary
buttons_back || { echo "first Save gave no archive"; fail=1; }
"$here/check_zip.sh" "$work/out/first.zip" >/dev/null || { echo "first archive invalid"; fail=1; }
unzip -p "$work/out/first.zip" GleanMain.log | iconv -f UTF-16 -t UTF-8 >"$work/archived-main-log.txt"
cmp -s "$work/shown-main-log.txt" "$work/archived-main-log.txt" || { echo "shown system information differs from GleanMain.log"; fail=1; }

# An existing file is replaced only after the user agrees.
printf 'old' >"$work/out/existing.zip"
save_as "$work/out/existing.zip"
ui wait Error+6 60 | grep -q 'replace' || { echo "no question before replacing"; fail=1; }
ui click Error+6 No 5 >/dev/null
ui click 'Save As' Cancel 20 >/dev/null
buttons_back
[ "$(cat "$work/out/existing.zip")" = old ] || { echo "replaced although the user said No"; fail=1; }
save_as "$work/out/existing.zip"
ui click Error+6 Yes 20 >/dev/null
summary "$work/out/existing.zip"
unzip -tq "$work/out/existing.zip" >/dev/null 2>&1 && buttons_back || { echo "not replaced after Yes"; fail=1; }

# A destination that cannot be written: the error in a message box, then
# the dialog is usable for a Save that succeeds.
printf 'locked' >"$work/out/locked.zip"
"$WINE" "$locker" "$(win "$work/out/locked.zip")" "$(win "$work/ready")" "$(win "$work/release")" &
lockerPid=$!
until_ok 20 test -f "$work/ready"
save_as "$work/out/locked.zip"
ui click Error+6 Yes 20 >/dev/null
box=$(ui wait Glean+65535 60) || { echo "no error box"; fail=1; }
shot dialog-error
printf '%s\n' "$box" | grep -q 'control 65535 Static .*locked.zip' || { echo "error box: $box"; fail=1; }
ui click Glean+65535 OK 5 >/dev/null
touch "$work/release"; wait $lockerPid
buttons_back || { echo "buttons not enabled after the error"; fail=1; }
save_as "$work/out/second.zip"
summary "$work/out/second.zip"
buttons_back || { echo "second Save gave no archive"; fail=1; }
"$here/check_zip.sh" "$work/out/second.zip" >/dev/null || { echo "second archive invalid"; fail=1; }
# Four runs (first, replaced, locked, second), each adding the file once;
# Cancel and No ran nothing. The application log keeps every run's lines.
runs=$(archive_app_log "$work/out/second.zip" | grep -c 'collected.txt был добавлен')
[ "$runs" = 4 ] || { echo "$runs runs in the application log, expected 4"; fail=1; }
# Each run removed the archive of the one before: one is left, the last.
archives=$(ls "$WINEPREFIX"/drive_c/users/*/Temp | grep -cE '^tmp.....\.tmp$')
[ "$archives" = 1 ] || { echo "$archives temporary archives after four runs, expected 1"; fail=1; }

ui click "$main" 1002 5 >/dev/null
wait $pid; rc=$?
[ $rc -eq 0 ] || { echo "exit code $rc after Exit"; fail=1; }

# Closing the window while a collection runs (a 6 GiB file to digest) ends
# the run silently and the program, leaving no archive and no temporary file.
mkdir -p "$work/slow"
truncate -s 6G "$work/slow/big.bin"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Directories]' "Dir1=$(win "$work/slow")" >"$work/app/Glean.ini"
"$WINE" "$work/app/Glean.exe" &
pid=$!
ui wait "$main" 60 >/dev/null
save_as "$work/out/busy.zip"
if until_ok 30 sh -c "'$WINE' '$driver' details '$main' 5 | grep -q '^control 1004 .*visible=1'"; then
  sleep 1 # the marquee and the new text get painted between two steps of the run
  shot dialog-busy
  enabled 1008 && { echo "Save enabled during the run"; fail=1; }
  enabled 1003 && { echo "Send enabled during the run"; fail=1; }
  ui text "$main" 1005 | grep -q 'Collecting files' || { echo "no collecting text"; fail=1; }
else
  echo "the progress bar did not show"; fail=1
fi
ui close "$main" 5
wait $pid; rc=$?
rm -rf "$work/slow"
[ $rc -eq 0 ] || { echo "exit code $rc after closing during the run"; fail=1; }
[ ! -e "$work/out/busy.zip" ] || { echo "an archive was left behind"; fail=1; }
left=$(temp_files)
[ -z "$left" ] || { echo "temporary files left: $left"; fail=1; }

# Arabic: the right-to-left template, the system information left to right.
printf '%s\r\n' '[Common]' 'AppName=Pagewise' >"$work/app/Glean.ini"
for with in without with; do
  [ $with = with ] && cp "$arabic" "$work/app/"
  "$WINE" "$work/app/Glean.exe" /language:61 &
  pid=$!
  details=$(ui details "$main" 60)
  [ $with = with ] && shot dialog-rtl
  window=$(printf '%s\n' "$details" | sed -n 's/^window .* exstyle=\(0x[0-9a-f]*\).*/\1/p')
  rtl=$(( window & 0x400000 ))
  if [ $with = without ]; then
    [ $rtl -eq 0 ] || { echo "right-to-left template without an Arabic module"; fail=1; }
  else
    [ $rtl -ne 0 ] || { echo "no right-to-left template for Arabic"; fail=1; }
    edit=$(printf '%s\n' "$details" | sed -n 's/^control 1000 .* exstyle=\(0x[0-9a-f]*\).*/\1/p')
    [ $(( edit & 0x403000 )) -eq 0 ] || { echo "the system information is not left to right ($edit)"; fail=1; }
    label=$(printf '%s\n' "$details" | grep '^control 103 ')
    style=$(printf '%s\n' "$label" | sed -n 's/.* style=\(0x[0-9a-f]*\) exstyle=\(0x[0-9a-f]*\).*/\1 \2/p')
    set -- $style
    [ $(( $1 & 2 )) -ne 0 ] && [ $(( $2 & 0x400000 )) -eq 0 ] || { echo "label not right-aligned: $label"; fail=1; }
    ui wait "$main" 5 | grep -q 'control 1008 Button حفظ' || { echo "no Arabic texts"; fail=1; }
  fi
  ui click "$main" 1002 5 >/dev/null
  wait $pid
done
# No language module beside the program: the template's own captions, an
# empty suggestion area rather than its placeholder, and the summary of a
# Save in English from the program's own table.
rm -f "$work/app/Glean0.dll" "$work/app/$(basename "$arabic")"
"$WINE" "$work/app/Glean.exe" &
pid=$!
out=$(ui wait "$main" 60) || { echo "the dialog did not open without a module"; fail=1; }
printf '%s\n' "$out" | grep -q '^control 1005 Static *$' || { echo "suggestion without a module: $(printf '%s\n' "$out" | grep '^control 1005')"; fail=1; }
printf '%s\n' "$out" | grep -q '^control 1008 Button Save$' || { echo "Save caption without a module"; fail=1; }
save_as "$work/out/plain.zip"
summary "$work/out/plain.zip"
buttons_back
ui click "$main" 1002 5 >/dev/null
wait $pid
[ $fail -eq 0 ] && echo "dialog checks passed"
exit $fail
