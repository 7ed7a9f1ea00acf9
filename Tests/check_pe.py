#!/usr/bin/python3
"""Checks a built program's PE image: architecture, subsystem, imports from
system DLLs only (everything else is linked statically), the message-table
exports under undecorated names, and its resources: the string table equal
to the message list, the manifest, the icon and the version block.

    check_pe.py EXE x86|x64 gui|console MESSAGE_LIST
"""
import struct
import sys

import pefile

SYSTEM_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll', 'ole32.dll',
    'oleaut32.dll', 'comctl32.dll', 'comdlg32.dll', 'version.dll', 'msvcrt.dll', 'shlwapi.dll',
    'dbghelp.dll', 'psapi.dll', 'userenv.dll', 'secur32.dll', 'msi.dll', 'ws2_32.dll',
    'bcrypt.dll', 'ntdll.dll', 'uxtheme.dll',
}
EXPORTS = {'GetResourceID', 'NumberOfMessages', 'GetMessageName', 'GetMessageSystemVersion', '__BedrockUsed'}


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == '\\':
            n = text[i + 1]
            if n == 'u':
                out.append(chr(int(text[i + 2:i + 6], 16)))
                i += 6
                continue
            out.append({'n': '\n', 't': '\t', '\\': '\\', 'r': '\r'}[n])
            i += 2
            continue
        out.append(text[i])
        i += 1
    return ''.join(out)


def read_messages(path):
    entries = []
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if line.strip() and not line.startswith('#'):
                name, text = line.split('\t', 1)
                entries.append((name, unescape(text)))
    return entries


def string_table(pe):
    strings = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != pefile.RESOURCE_TYPE['RT_STRING']:
            continue
        for block in entry.directory.entries:
            for language in block.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                pos = 0
                for index in range(16):
                    length = int.from_bytes(data[pos:pos + 2], 'little')
                    pos += 2
                    if length:
                        strings[(block.id - 1) * 16 + index] = data[pos:pos + 2 * length].decode('utf-16-le')
                    pos += 2 * length
    return strings


def message_table(pe):
    """The texts of the RT_MESSAGETABLE resource, by message id."""
    texts = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != pefile.RESOURCE_TYPE['RT_MESSAGETABLE']:
            continue
        for table in entry.directory.entries:
            for language in table.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                for block in range(int.from_bytes(data[0:4], 'little')):
                    low, high, at = struct.unpack_from('<III', data, 4 + 12 * block)
                    for message in range(low, high + 1):
                        length, flags = struct.unpack_from('<HH', data, at)
                        raw = data[at + 4:at + length]
                        texts[message] = raw.decode('utf-16-le' if flags & 1 else 'mbcs').rstrip('\0')
                        at += length
    return texts


def resource_types(pe):
    return {entry.id for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id is not None}


def main():
    exe, arch, subsystem, messages = sys.argv[1:5]
    pe = pefile.PE(exe)
    errors = []
    machine = {'x86': 0x14c, 'x64': 0x8664}[arch]
    if pe.FILE_HEADER.Machine != machine:
        errors.append(f'machine {pe.FILE_HEADER.Machine:#x}, expected {machine:#x}')
    magic = {'x86': 0x10b, 'x64': 0x20b}[arch]
    if pe.OPTIONAL_HEADER.Magic != magic:
        errors.append(f'optional header magic {pe.OPTIONAL_HEADER.Magic:#x}')
    wanted = {'gui': 2, 'console': 3}[subsystem]
    if pe.OPTIONAL_HEADER.Subsystem != wanted:
        errors.append(f'subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected {wanted}')

    for dll in pe.DIRECTORY_ENTRY_IMPORT:
        name = dll.dll.decode().lower()
        if name not in SYSTEM_DLLS and not name.startswith('api-ms-win-'):
            errors.append(f'imports from {name}, which is not a system DLL')

    exported = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name} \
        if hasattr(pe, 'DIRECTORY_ENTRY_EXPORT') else set()
    if not EXPORTS <= exported:
        errors.append(f'missing exports {sorted(EXPORTS - exported)}; has {sorted(exported)}')

    strings = string_table(pe)
    for i, (name, text) in enumerate(read_messages(messages)):
        if strings.get(4096 + i) != text:
            errors.append(f'string {4096 + i} ({name}) is {strings.get(4096 + i)!r}, expected {text!r}')

    # The event-log handler writes event 1 with the text as second string.
    events = message_table(pe)
    if events.get(1, '').strip() != '%2':
        errors.append(f'message table event 1 is {events.get(1)!r}, expected the text insert %2')

    types = resource_types(pe)
    for kind in ('RT_MANIFEST', 'RT_GROUP_ICON', 'RT_VERSION') if subsystem == 'gui' else ('RT_VERSION',):
        if pefile.RESOURCE_TYPE[kind] not in types:
            errors.append(f'no {kind} resource')
    if pefile.RESOURCE_TYPE['RT_MANIFEST'] in types:
        for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if entry.id == pefile.RESOURCE_TYPE['RT_MANIFEST']:
                res = entry.directory.entries[0].directory.entries[0].data.struct
                manifest = pe.get_data(res.OffsetToData, res.Size).decode('utf-8')
                for needle in ('Microsoft.Windows.Common-Controls', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',
                               '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'):
                    if needle not in manifest:
                        errors.append(f'manifest lacks {needle}')

    for error in errors:
        print(f'{exe}: {error}')
    print(f'{exe}: {"FAILED" if errors else "ok"} ({arch}, {len(strings)} strings, exports {sorted(exported)})')
    return 1 if errors else 0


if __name__ == '__main__':
    sys.exit(main())
