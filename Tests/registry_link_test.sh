#!/usr/bin/env bash
# A registry export of a key holding a link to itself (Child\Up leads back
# to the key): the run ends promptly, and the export holds the link once,
# as its "SymbolicLinkValue", with nothing below it.
#   registry_link_test.sh GLEAN_EXE GLEAN0_DLL REGISTRY_LINKER_EXE WORK_DIR
set -u
glean=$1 module=$2 linker=$3 work=$4
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app"
cp "$glean" "$module" "$work/app/"
base='Software\GleanLinkTest'
# The link goes first: reg.exe's delete would follow it back up for good.
cleanup() {
  "$WINE" "$linker" delete "$base\\Child\\Up" >/dev/null 2>&1
  "$WINE" reg delete "HKCU\\$base" /f >/dev/null 2>&1
}
cleanup
trap cleanup EXIT
fail=0
"$WINE" reg add "HKCU\\$base\\Child" /v v /d 1 /f >/dev/null || { echo "reg add failed"; exit 1; }
"$WINE" "$linker" make "$base\\Child\\Up" "$base" || { echo "the link cannot be made"; exit 1; }
printf '%s\r\n' '[Common]' 'AppName=Pagewise' '[Registry]' "Loop.reg=HKEY_CURRENT_USER\\$base" >"$work/app/Glean.ini"
out="$work/out.zip"
start=$(date +%s)
timeout 120 "$WINE" "$work/app/Glean.exe" "/file:$(win "$out")"
rc=$?
seconds=$(($(date +%s) - start))
[ $rc -eq 0 ] || { echo "exit code $rc"; fail=1; }
[ $seconds -le 60 ] || { echo "the run took $seconds s"; fail=1; }
[ -f "$out" ] || { echo "no archive"; exit 1; }
/usr/bin/python3 - "$out" <<'PY' || fail=1
import re, sys, zipfile
data = zipfile.ZipFile(sys.argv[1]).read('Loop.reg')
assert data[:2] == b'\xff\xfe', data[:2]
lines = data[2:].decode('utf-16-le').split('\r\n')
root = 'HKEY_CURRENT_USER\\Software\\GleanLinkTest'
keys = [l for l in lines if l.startswith('[')]
assert keys == ['[%s]' % root, '[%s\\Child]' % root, '[%s\\Child\\Up]' % root], (len(keys), keys[:4])
at = lines.index('[%s\\Child\\Up]' % root) + 1
assert lines[at].startswith('"SymbolicLinkValue"=hex(6):'), lines[at:]
hexes = lines[at].split(':', 1)[1]
for more in lines[at + 1:]:
    if not hexes.endswith('\\'):
        break
    hexes = hexes[:-1] + more.strip()
target = bytes(int(h, 16) for h in hexes.split(',')).decode('utf-16-le')
assert re.fullmatch(r'\\REGISTRY\\USER\\S-1-5-[0-9-]+\\Software\\GleanLinkTest', target), target
PY
[ $fail -eq 0 ] && echo "registry link checks passed"
exit $fail
