#!/usr/bin/env bash
# Exits 0 when this machine's kernel runs 32-bit x86 programs, 1 when not.
# The smallest 32-bit Linux program: one ELF header, one program header and
# exit(0) through int 0x80. A kernel without 32-bit support refuses it.
# Argument: where to write the probe (a temporary file when not given).
set -uo pipefail
probe=${1:-$(mktemp)}
/usr/bin/python3 - "$probe" <<'PY' || exit 1
import struct, sys
code = bytes.fromhex('b801000000' '31db' 'cd80')  # mov eax, 1; xor ebx, ebx; int 0x80
base, start = 0x08048000, 52 + 32
ident = b'\x7fELF' + bytes([1, 1, 1]) + bytes(9)
header = ident + struct.pack('<HHIIIIIHHHHHH', 2, 3, 1, base + start, 52, 0, 0, 52, 32, 1, 0, 0, 0)
program = struct.pack('<IIIIIIII', 1, 0, base, base, start + len(code), start + len(code), 5, 0x1000)
with open(sys.argv[1], 'wb') as f:
    f.write(header + program + code)
PY
chmod +x "$probe"
"$probe" 2>/dev/null
status=$?
[ $# -ge 1 ] || rm -f "$probe"
exit $status
