#!/usr/bin/env bash
# A masked archive tried on every channel an original could take: registry
# values of every type (hex forms and binary, UTF-16 and ANSI text inside,
# an ANSI string with UTF-16 right after its zero, the user's SID in binary
# form), a secret-named value, folder and file names of collected files
# (local headers, central directory names, comments), an installer log in
# UTF-16 without a mark, a text file whose first non-ASCII byte comes after
# 64 KiB (byte for byte, nothing to mask), text appended in another encoding
# (UTF-16 after ASCII, ANSI after UTF-16), a secret of hex digits after a
# dash, a mail address with a letter of another script, a line of 3 MiB
# whose blanks are part of a listed word with a name across the first cut,
# and keys of an earlier run lying among the collected files, one with its
# title cut off (left out). The same settings with Threads=1 and Threads=4
# give the same entries and the same key.
#   privacy_channels_test.sh GLEAN_EXE GLEAN0_DLL WORK_DIR
set -u
glean=$1 module=$2 work=$3
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/app" "$work/out1" "$work/out4" "$work/installer"
cp "$glean" "$module" "$work/app/"
key='HKCU\Software\GleanPrivacyChannels'
trap '"$WINE" reg delete "$key" /f >/dev/null 2>&1' EXIT
fail=0
names=$("$WINE" cmd /c 'echo %USERNAME%^|%COMPUTERNAME%' 2>/dev/null | tr -d '\r')
IFS='|' read -r user computer <<<"$names"
[ -n "$user" ] && [ -n "$computer" ] || { echo "no names from Wine: '$names'"; exit 1; }
# The user's SID, from the profile Wine made for the user.
sid=$("$WINE" reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList' 2>/dev/null |
  grep -o 'S-1-5-21-[0-9-]*' | head -1)
[ -n "$sid" ] || { echo "no user SID from Wine"; exit 1; }
token=0123456789abcdef0123456789abcdef
export GLEAN_API_TOKEN=$token

# Registry values of every type, each holding originals.
hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
wide_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -d ' \n'; }
reg_add() { "$WINE" reg add "$key" /f "$@" >/dev/null 2>&1 || { echo "reg add $*: failed"; fail=1; }; }
reg_add /v Profile /t REG_EXPAND_SZ /d "C:\\Users\\$user\\AppData;%TEMP%"
reg_add /v Hosts /t REG_MULTI_SZ /d "host $computer\\0gateway 10.77.1.2\\0mail $user@example.net"
reg_add /v WideBlob /t REG_BINARY /d "0102$(wide_hex "owner $user on $computer")0000"
reg_add /v AnsiBlob /t REG_BINARY /d "ff$(hex "server 10.77.3.4 for $user")00"
reg_add /v AnsiThenWide /t REG_BINARY /d "$(hex "by $user")00$(wide_hex xyz)0000"
binary_sid=$(/usr/bin/python3 -c 'import sys; p = sys.argv[1].split("-"); print((bytes([1, len(p) - 3, 0, 0, 0, 0, 0, int(p[2])]) + b"".join(int(x).to_bytes(4, "little") for x in p[3:])).hex())' "$sid")
reg_add /v ProfileSid /t REG_BINARY /d "$binary_sid"
reg_add /v DbPassword /t REG_SZ /d 'x7!Zq'
reg_add /v "$user" /t REG_SZ /d "value named after the user"
"$WINE" reg add "$key\\$computer" /v Note /d "a key named after the computer" /f >/dev/null 2>&1

# Collected files in folders named after the user and the computer.
data="$work/data"
mkdir -p "$data/$user/$computer"
printf 'logged on as %s at %s\r\n' "$user" "$computer" >"$data/$user/$computer/${user}_notes.txt"
head -c 70000 /dev/zero | tr '\0' 'a' >"$data/late.txt"
printf '\r\ncaf\xe9 au lait\r\n' >>"$data/late.txt"
printf '\xef\xbb\xbfGlean privacy key: the stand-ins in Old.zip and what they stand for.\r\nuser1\t%s\r\n' "$user" \
  >"$data/Old-privacy-key.txt"
printf 'secret1\tOldSecret-42\r\n' >"$data/pairs.txt"
{ head -c 70000 /dev/zero | tr '\0' 'a'; printf '\r\n'; printf 'user %s on %s\r\n' "$user" "$computer" | iconv -t UTF-16LE; } \
  >"$data/late16.txt"
{ printf '\xff\xfe'; printf 'started\r\n' | iconv -t UTF-16LE; printf 'echo by %s at 10.77.5.6\r\n' "$user"; } >"$data/appended.log"
printf 'token id-%s, from j\xc3\xb6rg@example.net\r\n' "$token" >"$data/token.txt"
/usr/bin/python3 -c 'import sys; s = ("lorem ipsum " * 90000)[:0xFFFFD] + " " + sys.argv[1] + " " + "dolor " * 350000; open(sys.argv[2], "w").write(s)' \
  "$user" "$data/prose.txt"
# An installer log in UTF-16 without a byte-order mark.
printf 'MSI (s) installing for %s on %s\r\nProperty(S): ProductName = Pagewise\r\n' "$user" "$computer" |
  iconv -f UTF-8 -t UTF-16LE >"$work/installer/MSI1a2b.log"

settings() {
  printf '%s\r\n' '[Common]' 'AppName=Pagewise' "TempDir=$(win "$work/installer")" "Threads=$1" \
    '[Registry]' "Channels.reg=$key" \
    '[OtherFiles]' "Data/MaskWithSubdirs1=$(win "$data")\\*" \
    '[Msi]' 'Product=Pagewise' \
    '[Privacy]' 'Mask=1' 'MaskCollectedFiles=1' 'Word1=Project Bluebird'
}
for threads in 1 4; do
  settings "$threads" >"$work/app/Glean.ini"
  "$WINE" "$work/app/Glean.exe" "/file:$(win "$work/out$threads/Glean.zip")" ||
    { echo "Threads=$threads: exit code $?"; fail=1; }
  "$here/check_zip.sh" "$work/out$threads/Glean.zip" >/dev/null || { echo "Threads=$threads: archive invalid"; fail=1; }
done

/usr/bin/python3 - "$work" "$user" "$computer" "$data/late.txt" "$sid" "$token" "$binary_sid" <<'PY' || fail=1
import re, struct, sys, zipfile
work, user, computer, late, sid, token, binary_sid = sys.argv[1:8]
originals = [user, computer, '10.77.1.2', '10.77.3.4', '10.77.5.6', f'{user}@example.net', 'x7!Zq', 'jörg@example.net',
             'OldSecret-42', token, sid.rsplit('-', 1)[0]]
binary_sid = bytes.fromhex(binary_sid)
path = f'{work}/out4/Glean.zip'
z = zipfile.ZipFile(path)
raw = open(path, 'rb').read()
problems = []

def forms(data):
    yield data.decode('latin-1')
    yield data.decode('utf-8', 'ignore')
    for skip in (0, 1):
        yield data[skip:].decode('utf-16-le', 'ignore')

def leaks(where, data):
    for text in forms(data):
        # The registry's own root names are no personal data.
        text = re.sub(r'HKEY_[A-Z_]+', ' ', text)
        for original in originals:
            if re.search(r'(?<![A-Za-z0-9])' + re.escape(original) + r'(?![A-Za-z0-9])', text, re.I):
                problems.append((where, original))
    if binary_sid in data:
        problems.append((where, 'binary SID'))

# Every local header's name, every central-directory name and comment.
for info in z.infolist():
    offset = info.header_offset
    length = struct.unpack('<H', raw[offset + 26:offset + 28])[0]
    leaks(f'local header {offset}', raw[offset + 30:offset + 30 + length])
    leaks(f'central name {info.filename}', info.filename.encode())
    leaks(f'comment of {info.filename}', info.comment)
    leaks(f'entry {info.filename}', z.read(info))

# Every hex value of the export decoded and searched.
export = z.read('Channels.reg').decode('utf-16')
values = re.findall(r'=(hex(?:\([0-9a-f]+\))?):((?:[0-9a-fA-F]{2},?(?:\\\r\n\s*)?)*)', export)
assert len(values) >= 4, export
for kind, digits in values:
    leaks(f'{kind} value', bytes.fromhex(re.sub(r'[^0-9a-fA-F]', '', digits)))
if 'DbPassword' not in export or not re.search(r'"DbPassword"="secret\d+"', export):
    problems.append(('secret-named value', export))

names = z.namelist()
if not any(n.startswith('MSI/') and n.endswith('.log') for n in names):
    problems.append(('no installer log', names))
msi = z.read(next(n for n in names if n.startswith('MSI/') and n.endswith('.log')))
if not msi.decode('utf-16-le').startswith('MSI (s) installing for user'):
    problems.append(('installer log not masked as UTF-16', msi[:80]))
late_entry = next(n for n in names if n.endswith('late.txt'))
if z.read(late_entry) != open(late, 'rb').read():
    problems.append(('late.txt not byte for byte', late_entry))
if any('privacy-key' in n or 'pairs' in n for n in names):
    problems.append(('a key was collected', names))
applog = z.read('GleanAppLog.log')[2:].decode('utf-16-le')
if 'is the key to the masked data of an earlier run' not in applog:
    problems.append(('no line for the key left out', applog[-600:]))

# The same archive on one thread and on four: every entry but the logs
# that hold times, and the same key.
one = zipfile.ZipFile(f'{work}/out1/Glean.zip')
if one.namelist() != names:
    problems.append(('names differ between thread counts', one.namelist(), names))
for name in names:
    # The settings differ in their Threads line; the logs hold times.
    if name not in ('Glean.ini', 'GleanMain.log', 'GleanFiles.log', 'GleanSummary.html', 'GleanManifest.json',
                    'GleanAppLog.log') and one.read(name) != z.read(name):
        problems.append(('differs between thread counts', name))
keys = [open(f'{work}/out{t}/Glean-privacy-key.txt', 'rb').read() for t in (1, 4)]
if keys[0] != keys[1]:
    problems.append(('keys differ between thread counts', keys))
assert not problems, problems
print(f'{len(names)} entries checked; {len(values)} hex values decoded')
PY
[ $fail -eq 0 ] && echo "privacy channel checks passed"
exit $fail
