#!/usr/bin/env bash
# Checks an archive with readers that share no code with our writer:
# Info-ZIP unzip, 7-Zip, libarchive's bsdtar and Python's zipfile (the CRC of
# every entry, the UTF-8 flag, equal sizes in local and central headers).
set -u
zip=$1
# As a test of its own it is skipped with the programs that made the file.
[ -z "${GLEAN_WINE_ROOT:-}" ] || . "$(dirname "$(readlink -f "$0")")/wine-env.sh"
fail=0
unzip -tq "$zip" || { echo "unzip -t failed"; fail=1; }
7z t "$zip" >/dev/null || { echo "7z t failed"; 7z t "$zip"; fail=1; }
bsdtar -tf "$zip" >/dev/null || { echo "bsdtar -tf failed"; fail=1; }
/usr/bin/python3 - "$zip" <<'PY' || fail=1
import struct, sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path) as z:
    bad = z.testzip()
    if bad:
        sys.exit(f"bad CRC in {bad}")
    raw = open(path, 'rb').read()
    for info in z.infolist():
        if info.flag_bits != 0x0802:
            sys.exit(f"{info.filename}: flags {info.flag_bits:#x}")
        if info.create_version != 20 or info.extract_version != 20:
            sys.exit(f"{info.filename}: versions {info.create_version} {info.extract_version}")
        local = raw[info.header_offset:info.header_offset + 30]
        sig, need, flags, method, t, d, crc, csize, usize, nlen, xlen = struct.unpack('<IHHHHHIIIHH', local)
        if (crc, csize, usize) != (info.CRC, info.compress_size, info.file_size):
            sys.exit(f"{info.filename}: local header differs from the central directory")
        if xlen != 0 or info.extra:
            sys.exit(f"{info.filename}: extra field present")
        if info.is_dir():
            # A folder has a real date: month and day are never 0.
            if info.external_attr != 0x30 or info.file_size or info.compress_size or not (d >> 5) & 0xF or not d & 0x1F:
                sys.exit(f"{info.filename}: directory entry fields {info.external_attr:#x} date {d:#x}")
        elif method != 8:
            sys.exit(f"{info.filename}: method {method}")
    print(f"{len(z.infolist())} entries:", ", ".join(i.filename for i in z.infolist()))
PY
exit $fail
