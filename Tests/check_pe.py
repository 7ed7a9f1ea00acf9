#!/usr/bin/python3
"""Checks a built program's PE image: architecture, subsystem, imports from
system DLLs only (everything else is linked statically), the message-table
exports under undecorated names, and its resources: the string table equal
to the message list, the manifest, the icon and the version block.

    check_pe.py FILE x86|x64 gui|console|dll MESSAGE_LIST...

The message lists together make the program's table (merged by name).
A GUI program (the collector) must also carry both builds of the mail
sender as "RT_BINARY" resources "IDR_HERMOD64" and "IDR_HERMOD32".
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


def read_sz_or_ord(data, at):
    if data[at:at + 2] == b'\xff\xff':
        return int.from_bytes(data[at + 2:at + 4], 'little'), at + 4
    end = at
    while data[end:end + 2] != b'\0\0':
        end += 2
    return data[at:end].decode('utf-16-le'), end + 2


def dialog_template(data):
    """An extended dialog template: its header fields and its controls."""
    version, signature, _help, exstyle, style, count, x, y, cx, cy = struct.unpack_from('<HHIIIHhhhh', data, 0)
    assert (version, signature) == (1, 0xFFFF), 'not an extended dialog template'
    at = 26
    menu, at = read_sz_or_ord(data, at)
    klass, at = read_sz_or_ord(data, at)
    title, at = read_sz_or_ord(data, at)
    points, weight, italic, charset = struct.unpack_from('<HHBB', data, at)
    font, at = read_sz_or_ord(data, at + 6)
    dialog = {'exstyle': exstyle, 'style': style, 'rect': (x, y, cx, cy), 'title': title, 'font': (font, points),
              'controls': []}
    classes = {0x80: 'button', 0x81: 'edit', 0x82: 'static'}
    for _ in range(count):
        at = (at + 3) & ~3
        _help, cexstyle, cstyle, x, y, cx, cy, cid = struct.unpack_from('<IIIhhhhI', data, at)
        klass, at = read_sz_or_ord(data, at + 24)
        text, at = read_sz_or_ord(data, at)
        extra = int.from_bytes(data[at:at + 2], 'little')
        at += 2 + extra
        dialog['controls'].append((cid, classes.get(klass, klass).lower() if isinstance(klass, int) else klass.lower(),
                                   text, cstyle, (x, y, cx, cy)))
    return dialog


def dialogs(pe):
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != pefile.RESOURCE_TYPE['RT_DIALOG']:
            continue
        for template in entry.directory.entries:
            for language in template.directory.entries:
                found[(template.id, language.id)] = dialog_template(
                    pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size))
    return found


MAIN_DIALOG_CONTROLS = [
    (103, 'static', 'System Information:', 0x50020000, (10, 7, 234, 8)),
    (1000, 'edit', '', 0x50B008C4, (7, 17, 240, 253)),
    (1004, 'msctls_progress32', '', 0x40800008, (7, 275, 240, 15)),
    (1005, 'static', 'Static', 0x50020000, (257, 17, 107, 133)),
    (1008, 'button', 'Save', 0x50010000, (257, 213, 107, 20)),
    (1003, 'button', 'Send', 0x50010000, (257, 242, 107, 20)),
    (1002, 'button', 'Exit', 0x50010001, (257, 270, 107, 20)),
]


def check_main_dialog(pe, errors):
    found = dialogs(pe)
    for number, exstyle in ((101, 0), (102, 0x00400000)):
        dialog = found.get((number, 1033))
        if dialog is None:
            errors.append(f'no English dialog template {number}')
            continue
        wanted = {'exstyle': exstyle, 'style': 0x90C808C8, 'rect': (0, 0, 372, 297), 'title': 'Glean',
                  'font': ('MS Shell Dlg', 8), 'controls': MAIN_DIALOG_CONTROLS}
        for key, value in wanted.items():
            if dialog[key] != value:
                errors.append(f'dialog {number} {key} is {dialog[key]!r}, expected {value!r}')


def foreign_imports(pe):
    found = []
    for dll in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []):
        name = dll.dll.decode().lower()
        if name not in SYSTEM_DLLS and not name.startswith('api-ms-win-'):
            found.append(f'imports from {name}, which is not a system DLL')
    return found


def check_mail_senders(pe, errors):
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.name is not None and str(entry.name) == 'RT_BINARY':
            for resource in entry.directory.entries:
                for language in resource.directory.entries:
                    found[(str(resource.name), language.id)] = pe.get_data(
                        language.data.struct.OffsetToData, language.data.struct.Size)
    for name, machine in (('IDR_HERMOD64', 0x8664), ('IDR_HERMOD32', 0x14c)):
        data = found.get((name, 1033))
        if data is None:
            errors.append(f'no RT_BINARY resource {name} in English')
            continue
        sender = pefile.PE(data=data)
        if sender.FILE_HEADER.Machine != machine or sender.OPTIONAL_HEADER.Subsystem != 3:
            errors.append(f'{name} is no console program for machine {machine:#x}')
        errors += [f'{name}: {error}' for error in foreign_imports(sender)]


def resource_types(pe):
    return {entry.id for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id is not None}


def main():
    exe, arch, subsystem = sys.argv[1:4]
    messages = sys.argv[4:]
    pe = pefile.PE(exe)
    errors = []
    machine = {'x86': 0x14c, 'x64': 0x8664}[arch]
    if pe.FILE_HEADER.Machine != machine:
        errors.append(f'machine {pe.FILE_HEADER.Machine:#x}, expected {machine:#x}')
    magic = {'x86': 0x10b, 'x64': 0x20b}[arch]
    if pe.OPTIONAL_HEADER.Magic != magic:
        errors.append(f'optional header magic {pe.OPTIONAL_HEADER.Magic:#x}')
    # A DLL's subsystem means nothing to Windows.
    wanted = {'gui': 2, 'console': 3, 'dll': pe.OPTIONAL_HEADER.Subsystem}[subsystem]
    if pe.OPTIONAL_HEADER.Subsystem != wanted:
        errors.append(f'subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected {wanted}')
    if bool(pe.FILE_HEADER.Characteristics & 0x2000) != (subsystem == 'dll'):
        errors.append('the DLL flag is wrong')
    errors += foreign_imports(pe)

    exported = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name} \
        if hasattr(pe, 'DIRECTORY_ENTRY_EXPORT') else set()
    if not EXPORTS <= exported:
        errors.append(f'missing exports {sorted(EXPORTS - exported)}; has {sorted(exported)}')

    strings = string_table(pe)
    table = sorted((entry for path in messages for entry in read_messages(path)),
                   key=lambda entry: entry[0].encode('utf-16-be'))
    if len(strings) != len(table):
        errors.append(f'{len(strings)} strings, expected {len(table)}')
    for i, (name, text) in enumerate(table):
        if strings.get(4096 + i) != text:
            errors.append(f'string {4096 + i} ({name}) is {strings.get(4096 + i)!r}, expected {text!r}')

    # The event-log handler writes event 1 with the text as second string.
    events = message_table(pe)
    if subsystem != 'dll' and events.get(1, '').strip() != '%2':
        errors.append(f'message table event 1 is {events.get(1)!r}, expected the text insert %2')

    if subsystem == 'gui':
        check_main_dialog(pe, errors)
        check_mail_senders(pe, errors)
        icons = [d.id for e in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 if e.id == pefile.RESOURCE_TYPE['RT_GROUP_ICON'] for d in e.directory.entries]
        if 101 not in icons:
            errors.append(f'no icon 101 (icons {icons})')

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
