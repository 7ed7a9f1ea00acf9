#!/usr/bin/env bash
# The files, drives and installer logs of a real silent run: a folder with
# upper- and lower-case names and hidden files, a tree with a subfolder and
# a sparse 5 GiB file, the run's removable and CD-ROM drives filled with a
# labelled medium, and installer logs in the settings' temp dir. Digests are
# compared with md5sum, times with the files' own UTC times.
#   collected_logs_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
removable="$GLEAN_WINE_ROOT/drives/removable" cdrom="$GLEAN_WINE_ROOT/drives/cdrom"
# The medium's label and serial number come with the drive (wine-start.sh).
cleanup() { rm -rf "$work/data" "${removable:?}"/* "${removable:?}/.hidden" "${cdrom:?}"/*; }
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/app" "$work/data/dir/Inner" "$work/data/tree/Sub" "$work/temp/sub"
cp "$glean" "$module" "$work/app/"

d="$work/data/dir"
printf 'upper' >"$d/A.txt"; printf 'lower' >"$d/a.txt"; printf 'bee\n' >"$d/b.txt"
printf 'inner' >"$d/Inner/not-listed.txt"; printf 'dot' >"$d/.dotfile"; printf '[x]' >"$d/desktop.ini"
"$WINE" cmd /c attrib +h "$(win "$d/desktop.ini")" >/dev/null 2>&1
touch -d '2025-12-31 23:30:00 UTC' "$d/A.txt"
t="$work/data/tree"
printf 'library' >"$t/Sub/x.dll"; : >"$t/empty.txt"
truncate -s 5G "$t/big.bin"
touch -d '2024-02-29 12:05:00 UTC' "$t/Sub"

mkdir -p "$removable/folder" && printf 'hi\n' >"$removable/a.txt" && printf 'h' >"$removable/.hidden"
printf '1234' >"$removable/folder/in.bin" && printf 'Z' >"$removable/Zed.txt"
printf 'disc' >"$cdrom/disc.txt"

utf16() { printf '\xff\xfe'; printf "$1" | iconv -f utf-8 -t utf-16le; }
m="$work/temp"
utf16 'Property(S): ProductName =  Reader X \r\nProperty(C): ProductName = Writer\r\n' >"$m/MSI1.log"
utf16 'Property(S): ProductName = Writer\r\nProperty(S): ProductName = Other\r\n' >"$m/MSI2.log"
utf16 'Property(S): ProductName = Writer\r\n=== Logging stopped ===\r\n' >"$m/msi3.LOG"
: >"$m/MSIempty.log"
utf16 'Property(S): ProductName = Writer\r\n' >"$m/MSIhidden.log"
"$WINE" cmd /c attrib +h "$(win "$m/MSIhidden.log")" >/dev/null 2>&1
utf16 'Property(S): ProductName = Writer\r\n' >"$m/sub/MSI4.log"

{ printf '%s\r\n' '[Common]' 'AppName=Pagewise' "TempDir=$(win "$m")" '[Directories]' \
  "Dir1=$(win "$d")" "Tree1=$(win "$t")" '[Msi]' 'Logs/Reader=Reader X' 'Writer=Writer'; } >"$work/app/Glean.ini"

out="$work/out.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ -f "$out" ] || { echo "no archive"; exit 1; }
"$here/check_zip.sh" "$out" >/dev/null || { "$here/check_zip.sh" "$out"; fail=1; }
(cd "$work/data" && md5sum dir/A.txt dir/a.txt dir/b.txt tree/Sub/x.dll tree/empty.txt tree/big.bin) >"$work/md5.txt"
/usr/bin/python3 - "$out" "$work" "$(win "$work")" "$work/md5.txt" <<'PY' || fail=1
import os, sys, time, zipfile
out, work, winwork, sums = sys.argv[1:]
z = zipfile.ZipFile(out)
names = [i.filename for i in z.infolist()]
assert names[:6] == ['Glean.ini', 'GleanMain.log', 'GleanFiles.log', 'GleanDrives.log', 'GleanAccess.log', 'GleanEnvVars.log'], names
# The installer logs: the directory entry, then the selected ones in the
# folder's case-insensitive order, each under its product's sub-folder (the
# writer adds the sub-folder's own entry). The settings reader orders the
# keys, so "Writer" is the first product, the one an empty log goes to.
assert names[6:-3] == ['MSI/', 'MSI/Logs/', 'MSI/Logs/MSI1.log', 'MSI/msi3.LOG', 'MSI/MSIempty.log'], names
digest = {l.split()[1]: l.split()[0].upper() for l in open(sums)}
def when(rel):
    return time.strftime('%d.%m.%y %H:%M', time.gmtime(os.stat(os.path.join(work, 'data', rel)).st_mtime))
def text(name):
    data = z.read(name)
    assert data[:2] == b'\xff\xfe' and data.endswith(b'\r\x00\n\x00'), (name, data[:4], data[-4:])
    return data[2:].decode('utf-16-le').split('\r\n')[:-1]
def file(indent, rel, size):
    return '%s%s\t%s\t%s\t%s' % (indent, rel.split('/')[-1], when(rel), size, digest[rel])
wd = winwork + '\\data\\dir'; wt = winwork + '\\data\\tree'
expected = [wd + ' Files:',
            file('  ', 'dir/A.txt', 5), '  Inner\t%s\tFolder' % when('dir/Inner'),
            file('  ', 'dir/a.txt', 5), file('  ', 'dir/b.txt', 4), ' ',
            wt + ' Tree:',
            '  Sub\t29.02.24 12:05\tFolder', file('    ', 'tree/Sub/x.dll', 7),
            file('  ', 'tree/big.bin', 'Size of file > 4 Gb'), file('  ', 'tree/empty.txt', 0), ' ']
got = text('GleanFiles.log')
assert got == expected, '\n'.join('%r\n%r' % p for p in zip(got, expected) if p[0] != p[1]) or (got, expected)
assert expected[1].startswith('  A.txt\t31.12.25 23:30\t5\t')
drives = text('GleanDrives.log')
assert drives == ['Removable drive R:\\', 'Label = BACKUP', 'Serial number = %d' % 0x1a2b3c4d,
                  'R:\\.hidden\t1', 'R:\\.windows-label\t7', 'R:\\.windows-serial\t9', 'R:\\a.txt\t3',
                  'R:\\folder\\in.bin\t4', 'R:\\Zed.txt\t1', ' ', 'CD-ROM S:\\', 'S:\\disc.txt\t4', ' '], drives
print('files, drives and installer logs as expected')
PY
exit $fail
