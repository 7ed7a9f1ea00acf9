#!/usr/bin/env bash
# A tree of 100,000 files over 30 levels, its deepest paths longer than 260
# characters, listed whole in the files log; a file at the bottom collected;
# a mask over the whole tree planned only up to the archive's 65535 entries,
# with one line.
#   large_tree_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app"
cp "$glean" "$module" "$work/app/"
trap 'rm -rf "$work/tree"' EXIT
level="$work/tree"
for n in $(seq -w 1 30); do
  level="$level/level-$n-folder"
  mkdir -p "$level"
  count=3333; [ "$n" = 01 ] && count=3343
  (cd "$level" && seq "$count" | sed 's/^/f/' | xargs touch)
done
printf 'bottom' >"$level/bottom.txt"
deepest=$(win "$level/bottom.txt")
[ ${#deepest} -gt 260 ] || { echo "the deepest path has only ${#deepest} characters"; exit 1; }
printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Directories]' "Tree1=$(win "$work/tree")" \
  '[OtherFiles]' "File1=$deepest" "Many/MaskWithSubdirs2=$(win "$work/tree")\\*" >"$work/app/Glean.ini"
out="$work/out.zip"
"$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"; rc=$?
fail=0
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
unzip -tq "$out" >/dev/null || { echo "unzip -t failed"; fail=1; }
/usr/bin/python3 - "$out" <<'PY' || fail=1
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
lines = z.read('GleanFiles.log')[2:].decode('utf-16-le').split('\r\n')
files = [l for l in lines if l.startswith(' ') and l.count('\t') == 3]
folders = [l for l in lines if l.endswith('\tFolder')]
assert len(files) == 100001 and len(folders) == 30, (len(files), len(folders))
assert max(len(l) - len(l.lstrip(' ')) for l in files) == 62, 'deepest indent'
assert any(n.endswith('000_bottom.txt') for n in z.namelist())
assert z.read([n for n in z.namelist() if n.endswith('000_bottom.txt')][0]) == b'bottom'
assert len(z.namelist()) == 65535, len(z.namelist())
log = z.read('GleanAppLog.log')[2:].decode('utf-16-le')
assert log.count('больше архив не вмещает') == 1, log[:2000]
print(f'{len(files)} files in {len(folders)} levels listed; 65535 entries')
PY
exit $fail
