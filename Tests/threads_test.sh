#!/usr/bin/env bash
# Runs on several workers against the one-thread run: the same tree (mixed
# sizes, an empty file, one that cannot be opened, one held open for
# writing, more entries than workers, a text file of 300 MiB compressed in
# blocks on every worker), a sparse file of 5 GiB alone in its folder
# (refused for its size, its folder entry kept) and a file removed between
# the planning and the packing, packed with Threads=1 and Threads=4, give
# the same collected entries byte for byte, headers and data, the same
# files log but for its times, and the same application-log lines in the
# same places. Then a quit during the packing ends the run with no
# temporary file left.
#   threads_test.sh GLEAN_EXE GLEAN0_DLL UIDRIVER_EXE FILE_LOCKER_EXE WORK_DIR
set -u
glean=$1 module=$2 driver=$3 locker=$4 work=$5
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/data/sub" "$work/out" "$work/huge/alone" "$work/late"
trap 'rm -rf "$work/data"; touch "$work/release"' EXIT
cp "$glean" "$module" "$work/app/"
fail=0
temp=$(echo "$WINEPREFIX"/drive_c/users/*/Temp)
ours() { ls "$temp" 2>/dev/null | grep -E '^(GML|GFL|GDL|GSL|GEL|GAL|GRL|GEV|GZP|tmp).....\.tmp$' || true; }
/usr/bin/python3 - "$work/data" <<'PY'
import os, random, sys
data = sys.argv[1]
random.seed(5)
open(f'{data}/empty.txt', 'w').close()
for i in range(40):
    size = random.choice([10, 3000, 70000, 300000, 1 << 20])
    text = random.random() < 0.5
    body = (''.join(random.choice('abcdefgh \n') for _ in range(size))).encode() if text else os.urandom(size)
    open(f'{data}/{"sub/" if i % 3 == 0 else ""}f{i:02d}.{"txt" if text else "bin"}', 'wb').write(body)
# A text log of 300 MiB: its blocks are compressed on every worker.
with open(f'{data}/large.log', 'wb') as f:
    n = 0
    while f.tell() < 300 << 20:
        f.write(''.join(f'2026-12-10 07:{n // 60 % 60:02d}:{n % 60:02d} [info] request {n * 7919 % 100003} done '
                        f'for session {n % 977} in {n % 89} ms\r\n' for n in range(n, n + 4096)).encode())
        n += 4096
open(f'{data}/locked.txt', 'w').write('locked')
open(f'{data}/open.txt', 'w').write('held open for writing, readable')
PY
"$WINE" "$locker" "$(win "$work/data/locked.txt")" "$(win "$work/ready")" "$(win "$work/release")" &
lockerPid=$!
for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.1; done
truncate -s 5G "$work/huge/alone/sparse.bin"
ini() {
  printf '%s\r\n' '[Common]' 'AppName=Pagewise' "Threads=$1" '[Directories]' "Tree1=$(win "$work/data")" \
    '[OtherFiles]' "MaskWithSubdirs1=$(win "$work/data")\\*" "Huge/MaskWithSubdirs2=$(win "$work/huge")\\*" \
    "Late/Mask3=$(win "$work/late")\\*.txt" >"$work/app/Glean.ini"
}
for threads in 1 4; do
  ini $threads
  # Planned when the settings are read, gone by the time it is packed: it
  # is removed once the main log is written, while the files log digests
  # the large log (the files log does not list its folder).
  printf 'removed before it is read\r\n' >"$work/late/gone.txt"
  ( for _ in $(seq 600); do
      if ls "$temp" 2>/dev/null | grep -qE '^GML.....\.tmp$'; then rm -f "$work/late/gone.txt"; break; fi
      sleep 0.02
    done ) &
  watcher=$!
  "$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out/threads-$threads.zip")" || { echo "Threads=$threads: exit code $?"; fail=1; }
  wait $watcher
  [ ! -e "$work/late/gone.txt" ] || { echo "Threads=$threads: the file to remove was never removed"; fail=1; }
  "$here/check_zip.sh" "$work/out/threads-$threads.zip" >/dev/null || { echo "Threads=$threads: invalid archive"; fail=1; }
done
touch "$work/release"; wait $lockerPid
/usr/bin/python3 - "$work/out/threads-1.zip" "$work/out/threads-4.zip" <<'PY' || fail=1
import re, struct, sys, zipfile
def collected(path):
    raw = open(path, 'rb').read()
    z = zipfile.ZipFile(path)
    out = {}
    for i in z.infolist():
        if re.search(r'(^|/)\d{3}_', i.filename):
            n = struct.unpack('<H', raw[i.header_offset + 26:i.header_offset + 28])[0]
            local = raw[i.header_offset:i.header_offset + 30 + n + i.compress_size]
            out[i.filename] = (local, i.CRC, i.external_attr, i.comment)
    files = z.read('GleanFiles.log')[2:].decode('utf-16-le').split('\r\n')
    files = [re.sub(r'\t\d\d\.\d\d\.\d\d \d\d:\d\d', '\tTIME', l) for l in files]
    log = z.read('GleanAppLog.log')[2:].decode('utf-16-le').split('\r\n')
    log = [l for l in log if not l.startswith('Личные')]
    return z.namelist(), out, files, log
names1, one, files1, log1 = collected(sys.argv[1])
names4, four, files4, log4 = collected(sys.argv[2])
assert names1 == names4, 'the entries differ'
assert len(one) >= 40 and one.keys() == four.keys(), (len(one), len(four))
for name in one:
    assert one[name] == four[name], f'{name} differs'
assert not any(n.endswith('locked.txt') for n in names1) and any(n.endswith('open.txt') for n in names1)
assert 'Huge/alone/' in names1 and not any(n.endswith('sparse.bin') for n in names1), names1
assert not any(n.endswith('gone.txt') for n in names1)
assert any(n.endswith('large.log') for n in names1)
for victim in ('locked.txt', 'sparse.bin', 'gone.txt'):
    failed = [i for i, l in enumerate(log4) if l.startswith('Не удалось') and victim in l]
    assert len(failed) == 1 and failed[0] > 0 and not log4[failed[0] - 1].startswith('Файл '), (victim, log4)
assert files1 == files4, [(a, b) for a, b in zip(files1, files4) if a != b][:3]
assert log1 == log4, [(a, b) for a, b in zip(log1, log4) if a != b][:3]
print(f'{len(one)} collected entries identical with 1 and 4 threads')
PY
left=$(ours)
[ -z "$left" ] || { echo "temporary files left after the runs: $left"; fail=1; }

# A quit while the large file is being packed: the workers stop at their
# next block and every temporary file goes.
ini 2
"$WINE" "$work/app/Glean.exe" &
pid=$!
ui() { "$WINE" "$driver" "$@"; }
ui wait Glean+1000 60 >/dev/null || { echo "no dialog"; kill $pid; exit 1; }
ui click Glean+1000 1008 5 >/dev/null
ui wait 'Save As' 60 >/dev/null
ui settext 'Save As' 1148 "$(win "$work/out/quit.zip")"
ui click 'Save As' Save 5 >/dev/null
# The archive in the temporary folder past 1 MiB: the large log is being
# packed.
packing=
for _ in $(seq 1200); do
  for archive in "$temp"/tmp?????.tmp; do
    [ -f "$archive" ] && [ "$(stat -c %s "$archive")" -gt 1048576 ] && packing=1
  done
  [ -n "$packing" ] && break
  sleep 0.05
done
ui close Glean+1000 5
wait $pid; rc=$?
[ -n "$packing" ] || { echo "the large log was never being packed"; fail=1; }
[ $rc -eq 0 ] || { echo "exit code $rc after the quit"; fail=1; }
[ ! -e "$work/out/quit.zip" ] || { echo "an archive was made although the run was stopped"; fail=1; }
left=$(ours)
[ -z "$left" ] || { echo "temporary files left after the quit: $left"; fail=1; }
[ $fail -eq 0 ] && echo "thread checks passed"
exit $fail
