#!/usr/bin/env bash
# Silent runs when the computer misbehaves and the input is bad. Each run
# must lose nothing: the archive is valid for unzip, 7-Zip and Python's
# zipfile, every entry that could be read is in it, every one that could
# not is named in the application log, the exit code fits the outcome, and
# no temporary file is left.
#   faults_test.sh GLEAN_EXE GLEAN0_DLL UIDRIVER_EXE FILE_LOCKER_EXE WORK_DIR
set -u
glean=$1 module=$2 driver=$3 locker=$4 work=$5
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
# A small file system of an earlier run that was stopped half-way.
while umount "$work/small" 2>/dev/null; do :; done
trap 'umount "$work/small" 2>/dev/null; "$WINE" reg delete "HKLM\Software\Zarvo\Basalt" /f /reg:32 >/dev/null 2>&1' EXIT
rm -rf "$work" && mkdir -p "$work/app" "$work/data" "$work/out"
cp "$glean" "$module" "$work/app/"
fail=0
temp=$(echo "$WINEPREFIX"/drive_c/users/*/Temp)
ours() { ls "$temp" 2>/dev/null | grep -E '^(GML|GFL|GDL|GSL|GEL|GAL|tmp).....\.tmp$' || true; }
no_temp_left() { local left; left=$(ours); [ -z "$left" ] || { echo "$1: temporary files left: $left"; fail=1; }; }
ini() { printf '%s\r\n' '[Common]' 'AppName=Pagewise' "$@" >"$work/app/Glean.ini"; }
valid() { "$here/check_zip.sh" "$1" >/dev/null 2>&1 || { echo "$2: the archive is not valid"; "$here/check_zip.sh" "$1"; fail=1; }; }
app_log() { unzip -p "$1" GleanAppLog.log | iconv -f UTF-16 -t UTF-8 | tr -d '\r'; }
# A run whose error comes up in a message box: its text, then OK.
boxed() { # name expected-rc text-pattern args...
  local name=$1 want=$2 pattern=$3 pid box rc
  shift 3
  "$WINE" "$work/app/Glean.exe" "$@" &
  pid=$!
  box=$("$WINE" "$driver" wait Glean+65535 60) || { echo "$name: no message box"; fail=1; kill $pid; return; }
  printf '%s\n' "$box" | grep -qE "control 65535 Static $pattern" || { echo "$name: box $box"; fail=1; }
  "$WINE" "$driver" click Glean+65535 OK 10 >/dev/null
  wait $pid; rc=$?
  [ $rc -eq "$want" ] || { echo "$name: exit code $rc, expected $want"; fail=1; }
}
silent() { "$WINE" "$work/app/Glean.exe" "/file:$(win "$1")"; }

# Files locked, deleted and grown while the run is under way: a large file
# to digest keeps the run busy while they change.
truncate -s 6G "$work/data/slow.bin"
mkdir -p "$work/data/list" && mv "$work/data/slow.bin" "$work/data/list/"
printf 'locked' >"$work/data/locked.txt"
printf 'deleted' >"$work/data/deleted.txt"
printf 'short' >"$work/data/grown.txt"
ini '[Directories]' "Dir1=$(win "$work/data/list")" '[OtherFiles]' "File1=$(win "$work/data/locked.txt")" \
  "File2=$(win "$work/data/deleted.txt")" "File3=$(win "$work/data/grown.txt")"
"$WINE" "$locker" "$(win "$work/data/locked.txt")" "$(win "$work/ready")" "$(win "$work/release")" &
lockerPid=$!
for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.1; done
silent "$work/out/changed.zip" &
pid=$!
sleep 2
rm -f "$work/data/deleted.txt"
head -c 1000000 /dev/urandom >>"$work/data/grown.txt"
wait $pid; rc=$?
touch "$work/release"; wait $lockerPid
rm -rf "$work/data/list"
[ $rc -eq 0 ] || { echo "changed files: exit code $rc"; fail=1; }
valid "$work/out/changed.zip" 'changed files'
/usr/bin/python3 - "$work/out/changed.zip" <<'PY' || fail=1
import subprocess, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
log = z.read('GleanAppLog.log')[2:].decode('utf-16-le').split('\r\n')
for gone in ('locked.txt', 'deleted.txt'):
    assert not any(n.endswith(gone) for n in names), f'{gone} is in the archive'
    failed = [i for i, l in enumerate(log) if l.startswith('Не удалось добавить файл ') and gone in l]
    assert len(failed) == 1 and log[failed[0] - 1], (gone, log)
grown = [n for n in names if n.endswith('grown.txt')]
assert len(grown) == 1 and z.read(grown[0]).startswith(b'short'), grown
PY
no_temp_left 'changed files'

# A file that grows, and one that shrinks, while its own entry is being
# compressed (by the writer itself, so that the temporary archive can be
# watched until that entry's data flows): the entry holds the file as long
# as it was when the entry began, or as far as it could be read, and is
# valid either way. The workers compress with the same code.
for change in grow shrink; do
  head -c $((96 * 1024 * 1024)) /dev/urandom >"$work/data/$change.bin"
  cp "$work/data/$change.bin" "$work/data/$change.orig"
  ini 'Threads=1' '[OtherFiles]' "File1=$(win "$work/data/$change.bin")"
  silent "$work/out/$change.zip" &
  pid=$!
  watched=
  for _ in $(seq 600); do
    big=$(find "$temp" -maxdepth 1 -name 'tmp?????.tmp' -size +16M 2>/dev/null | head -1)
    [ -n "$big" ] && { watched=1; break; }
    sleep 0.05
  done
  if [ $change = grow ]; then head -c 1000000 /dev/urandom >>"$work/data/$change.bin"; else truncate -s 32M "$work/data/$change.bin"; fi
  wait $pid; rc=$?
  [ -n "$watched" ] && [ $rc -eq 0 ] || { echo "$change during compression: exit code $rc, watched '$watched'"; fail=1; continue; }
  valid "$work/out/$change.zip" "$change during compression"
  /usr/bin/python3 - "$work/out/$change.zip" "$work/data/$change.orig" $change <<'PY' || fail=1
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
original = open(sys.argv[2], 'rb').read()
name = [n for n in z.namelist() if n.endswith(sys.argv[3] + '.bin')][0]
data = z.read(name)
if sys.argv[3] == 'grow':
    assert data == original, (len(data), len(original))
else:
    assert 32 * 2**20 <= len(data) < len(original) and data == original[:len(data)], len(data)
PY
  rm -f "$work/data/$change.bin" "$work/data/$change.orig" "$work/out/$change.zip"
done

# A destination that fills up: the error is shown, nothing is left at the
# destination or among the temporary files. A small file system of the
# test's own where it can mount one, the full device otherwise.
head -c 3000000 /dev/urandom >"$work/data/random.bin"
ini '[OtherFiles]' "File1=$(win "$work/data/random.bin")"
mkdir -p "$work/small"
if mount -t tmpfs -o size=1m tmpfs "$work/small" 2>/dev/null; then
  boxed 'full destination' 1 'Disk full while accessing .*full.zip\.' "/file:$(win "$work/small/full.zip")"
  [ ! -e "$work/small/full.zip" ] || { echo "full destination: a part of the archive is left"; fail=1; }
  # The temporary folder fills up: the collected file that does not fit is
  # left out and named; the archive is still made.
  "$WINE" reg add 'HKLM\Software\Zarvo\Basalt' /v Temp /d "$(win "$work/small")" /f /reg:32 >/dev/null 2>&1
  silent "$work/out/small-temp.zip"; rc=$?
  "$WINE" reg delete 'HKLM\Software\Zarvo\Basalt' /f /reg:32 >/dev/null 2>&1
  [ $rc -eq 0 ] || { echo "full temporary folder: exit code $rc"; fail=1; }
  valid "$work/out/small-temp.zip" 'full temporary folder'
  app_log "$work/out/small-temp.zip" | grep -q "^Disk full while accessing .*\\.tmp\\.$" || { echo "full temporary folder: no disk-full line"; app_log "$work/out/small-temp.zip"; fail=1; }
  app_log "$work/out/small-temp.zip" | grep -q "^Не удалось добавить файл .*random.bin" || { echo "full temporary folder: random.bin not named"; fail=1; }
  [ -z "$(ls -A "$work/small")" ] || { echo "full temporary folder: left $(ls "$work/small")"; fail=1; }
  umount "$work/small"
else
  echo "(no file system can be mounted here: the full device stands for the destination)"
  boxed 'full destination' 1 'Disk full while accessing ' '/file:Z:\dev\full'
fi
no_temp_left 'full destination'
# Without the language module the error still reads in English: the texts
# of the foundation and of the archive writer are in the program's own table.
mv "$work/app/$(basename "$module")" "$work/module.dll"
boxed 'no language module' 1 'Disk full while accessing ' '/file:Z:\dev\full'
mv "$work/module.dll" "$work/app/$(basename "$module")"

# Settings files that are empty, binary or UTF-16 without a byte-order mark
# (read as ANSI, its zero bytes make lines without "=") are refused with a
# message; UTF-16 with one is read.
: >"$work/app/Glean.ini"
boxed 'empty settings' 1 'Glean.ini is missing or has no \[Common\] section\.' "/file:$(win "$work/out/x.zip")"
head -c 4096 /dev/urandom | tr -d '=' >"$work/app/Glean.ini"
boxed 'binary settings' 1 '.*Glean.ini is corrupted \(line [0-9]+\)\.' "/file:$(win "$work/out/x.zip")"
printf '[Common]\r\nAppName=Pagewise\r\n[OtherFiles]\r\nFile1=%s\r\n' "$(win "$work/data/random.bin")" |
  iconv -f utf-8 -t utf-16le >"$work/app/Glean.ini"
boxed 'UTF-16 without mark' 1 '.*Glean.ini is corrupted \(line [0-9]+\)\.' "/file:$(win "$work/out/x.zip")"
{ printf '\xff\xfe'; cat "$work/app/Glean.ini"; } >"$work/ini16" && mv "$work/ini16" "$work/app/Glean.ini"
silent "$work/out/utf16.zip" || { echo "UTF-16 settings: exit code $?"; fail=1; }
unzip -l "$work/out/utf16.zip" | grep -q '000_random.bin' || { echo "UTF-16 settings: file not collected"; fail=1; }

# 100,000 lines, odd case and characters, macros that expand to nothing or
# to very long paths.
long=$(printf 'x%.0s' $(seq 1 3000))
export GLEAN_EMPTY= GLEAN_LONG="C:\\$long"
{ printf '%s\r\n' '[cOmMoN]' 'appname=Pagewise' '[oThErFiLeS]' "Odd Key ÿ File1=$(win "$work/data/random.bin")" \
    'file2=ignored: its name lacks the case-sensitive "File"' 'File3=%GLEAN_EMPTY%' 'File4=%GLEAN_LONG%\x.txt' \
    'Mask5=%GLEAN_LONG%\*.log' '[Directories]' 'Dir1=%GLEAN_EMPTY%' 'Tree2=%GLEAN_LONG%' '[Big]'
  seq 1 100000 | sed 's/.*/Key&=value &\r/'; } >"$work/app/Glean.ini"
silent "$work/out/odd.zip"; rc=$?
[ $rc -eq 0 ] || { echo "odd settings: exit code $rc"; fail=1; }
valid "$work/out/odd.zip" 'odd settings'
unzip -l "$work/out/odd.zip" | grep -q '000_random.bin' || { echo "odd settings: File1 not collected"; fail=1; }
app_log "$work/out/odd.zip" | grep -q "^Файл C:\\\\x\{3000\}\\\\x.txt не найден$" || { echo "odd settings: no line for the long path"; fail=1; }
app_log "$work/out/odd.zip" | grep -q '^Каталог %GLEAN_LONG% не существует$' || { echo "odd settings: no line for the long mask"; fail=1; }
app_log "$work/out/odd.zip" | grep -q '^Секция Directories содержит несуществующий каталог: C:\\x*$' || { echo "odd settings: long tree"; fail=1; }

# A response file that names itself, and a command line of 32,000 characters.
ini '[OtherFiles]' "File1=$(win "$work/data/random.bin")"
printf '/file:%s @self.rsp\r\n' "$(win "$work/out/rsp.zip")" >"$work/app/self.rsp"
(cd "$work/app" && boxed 'self-naming response file' 1 'Bad command line format' @self.rsp)
# One that names itself ten times would fan out a hundred million times
# within the nesting limit: the bound on the whole expansion refuses it.
for _ in $(seq 10); do printf '@fan.rsp\r\n'; done >"$work/app/fan.rsp"
started=$(date +%s)
(cd "$work/app" && boxed 'response-file fan-out' 1 'Bad command line format' @fan.rsp)
[ $(($(date +%s) - started)) -lt 30 ] || { echo "response-file fan-out took $(($(date +%s) - started)) s"; fail=1; }
languages=$(printf ' /language:0%.0s' $(seq 1 2600))
"$WINE" "$work/app/Glean.exe" $languages "/file:$(win "$work/out/long.zip")"; rc=$?
[ $rc -eq 0 ] && [ -f "$work/out/long.zip" ] || { echo "command line of ${#languages} characters: exit code $rc"; fail=1; }
no_temp_left 'bad input'
[ $fail -eq 0 ] && echo "fault checks passed"
exit $fail
