#!/usr/bin/env bash
# Names the system lists are the files they name: a folder "dir." beside
# "dir", a folder ending in a blank, and files named like devices (nul.txt,
# con.log, COM1.txt), made on the Unix side, are listed in the files log
# with the digests of their own bytes and collected with them by a mask;
# the removable drive's files keep their own sizes; no device is opened.
#   listed_names_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
removable="$GLEAN_WINE_ROOT/drives/removable"
cleanup() { rm -rf "${removable:?}/dir." "$removable/dir" "$removable/nul.txt"; }
trap cleanup EXIT
rm -rf "$work" && mkdir -p "$work/app" "$work/Data/dir." "$work/Data/dir" "$work/Data/trail " "$work/out"
cp "$glean" "$module" "$work/app/"
data="$work/Data"
printf 'x in the dotted folder' >"$data/dir./x.txt"
printf 'y in the dotted folder' >"$data/dir./y.txt"
printf 'y in the plain folder, longer' >"$data/dir/y.txt"
printf 'hello' >"$data/nul.txt"
printf 'console log' >"$data/con.log"
printf 'port one' >"$data/COM1.txt"
printf 'after a blank' >"$data/trail /z.txt"
mkdir -p "$removable/dir." "$removable/dir"
printf 'dotted' >"$removable/dir./y.txt"; printf 'plain!!' >"$removable/dir/y.txt"; printf 'hello' >"$removable/nul.txt"
printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Directories]' "Tree1=$(win "$data")" \
  '[OtherFiles]' "MaskWithSubdirs1=$(win "$data")\\*" >"$work/app/Glean.ini"
start=$(date +%s)
timeout 120 "$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out/names.zip")"
rc=$? fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ $(($(date +%s) - start)) -lt 60 ] || { echo "the run took $(($(date +%s) - start)) s"; fail=1; }
[ -f "$work/out/names.zip" ] || { echo "no archive"; exit 1; }
/usr/bin/python3 - "$work/out/names.zip" "$data" "$(win "$data")" <<'PY' || fail=1
import hashlib, os, re, sys, zipfile
out, data, windata = sys.argv[1:]
z = zipfile.ZipFile(out)
def text(name):
    return z.read(name)[2:].decode('utf-16-le').split('\r\n')
files = {'dir./x.txt', 'dir./y.txt', 'dir/y.txt', 'nul.txt', 'con.log', 'COM1.txt', 'trail /z.txt'}
own = {rel: open(os.path.join(data, rel), 'rb').read() for rel in files}
# The tree's listing: each file under its own folder, with its own digest.
listing, folder = {}, None
for line in text('GleanFiles.log')[1:]:
    fields = line.lstrip(' ').split('\t')
    if fields[-1] == 'Folder':
        folder = fields[0] + '/'
    elif len(fields) == 4:
        listing[(folder if line.startswith('    ') else '') + fields[0]] = (fields[2], fields[3])
want = {rel: (str(len(b)), hashlib.md5(b).hexdigest().upper()) for rel, b in own.items()}
assert listing == want, (listing, want)
# The mask's files, each added with its own bytes under the entry the
# application log names for it.
applog = text('GleanAppLog.log')
added = dict(m.groups() for m in (re.fullmatch(r'Файл (.*) был добавлен в архив как (.*)', l) for l in applog) if m)
assert len(added) == len(files), applog
for rel, content in own.items():
    entry = added.get(windata + '\\' + rel.replace('/', '\\'))
    assert entry is not None and z.read(entry) == content, (rel, entry, added)
everything = '\n'.join(applog + text('GleanFiles.log') + text('GleanDrives.log'))
assert 'Bad device type' not in everything, everything
drives = text('GleanDrives.log')
for line in ('R:\\dir.\\y.txt\t6', 'R:\\dir\\y.txt\t7', 'R:\\nul.txt\t5'):
    assert line in drives, (line, drives)
print('listed names collected as themselves')
PY
exit $fail
