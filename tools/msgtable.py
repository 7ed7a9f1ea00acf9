#!/usr/bin/env python3
"""Generates a module's message table from its list file.

List file: UTF-8, one message a line, "NAME<TAB>text"; blank lines and lines
starting with '#' are skipped. In the text, \\n stands for a line feed, \\t for
a tab and \\\\ for a backslash. Ids run from 4096 in list order, and the list
must already be sorted by UTF-16 code units: the build fails otherwise.
"""
import os
import sys

FIRST_ID = 4096


def unescape(text, where):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\':
            if i + 1 >= len(text):
                sys.exit(f"{where}: backslash at end of text")
            n = text[i + 1]
            mapping = {'n': '\n', 't': '\t', '\\': '\\', 'r': '\r'}
            if n == 'u':
                out.append(chr(int(text[i + 2:i + 6], 16)))
                i += 6
                continue
            if n not in mapping:
                sys.exit(f"{where}: unknown escape \\{n}")
            out.append(mapping[n])
            i += 2
            continue
        out.append(c)
        i += 1
    return ''.join(out)


def utf16_key(s):
    return s.encode('utf-16-be')


def rc_string(s):
    # Every character outside printable ASCII becomes a \x escape of four
    # digits; a hex digit right after an escape is escaped too, because
    # windres would read it as part of the escape.
    out, escaped = [], False
    for ch in s:
        o = ord(ch)
        if o > 0xFFFF:
            sys.exit("characters outside the basic plane are not supported")
        if ch == '"':
            out.append('""')
            escaped = False
        elif 0x20 <= o < 0x7F and ch != '\\' and not (escaped and ch in '0123456789abcdefABCDEF'):
            out.append(ch)
            escaped = False
        else:
            out.append('\\x%04x' % o)
            escaped = True
    return 'L"' + ''.join(out) + '"'


def read_list(list_file):
    entries = []
    with open(list_file, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip('\n').rstrip('\r')
            if not line.strip() or line.startswith('#'):
                continue
            if '\t' not in line:
                sys.exit(f"{list_file}:{number}: expected NAME<TAB>text")
            name, text = line.split('\t', 1)
            if not name.isidentifier():
                sys.exit(f"{list_file}:{number}: bad message name {name!r}")
            entries.append((name, unescape(text, f"{list_file}:{number}")))
    names = [n for n, _ in entries]
    for a, b in zip(names, names[1:]):
        if utf16_key(a) >= utf16_key(b):
            sys.exit(f"{list_file}: {b} must come before {a} (sorted by UTF-16 code units, no duplicates)")
    return entries


def main():
    # Several lists (each sorted) make one table, merged in code-unit order.
    out_dir, stem = sys.argv[1:3]
    lists = sys.argv[3:]
    list_file = lists[0]
    entries = sorted((e for l in lists for e in read_list(l)), key=lambda e: utf16_key(e[0]))
    names = [n for n, _ in entries]
    for a, b in zip(names, names[1:]):
        if a == b:
            sys.exit(f"{a} is defined in more than one list")
    os.makedirs(out_dir, exist_ok=True)
    guard = '// Generated from ' + os.path.basename(list_file) + '; do not edit.\n'
    with open(os.path.join(out_dir, stem + '.rc'), 'w', encoding='ascii', newline='\n') as f:
        f.write(guard.replace('//', '//'))
        f.write('STRINGTABLE\nBEGIN\n')
        for i, (name, text) in enumerate(entries):
            f.write(f'  {FIRST_ID + i}, {rc_string(text)}\n')
        f.write('END\n')
    with open(os.path.join(out_dir, stem + '.inc'), 'w', encoding='ascii', newline='\n') as f:
        f.write(guard)
        for name in names:
            f.write(f'L"{name}",\n')
    with open(os.path.join(out_dir, stem + '.h'), 'w', encoding='ascii', newline='\n') as f:
        f.write(guard + '#pragma once\n#include "Message.h"\n\n')
        for name in names:
            f.write(f'inline const Bas::CMessageName {name}{{L"{name}"}};\n')


if __name__ == '__main__':
    main()
