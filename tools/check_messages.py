#!/usr/bin/env python3
"""Fails the build when a program's code uses a message name that has no
text in the program's own table: without a language module beside it, such
a name would reach the user as itself.

    check_messages.py STAMP --sources DIR... --tables LIST... [--modules LIST...]

--sources: the folders of the program and of the libraries it links (their
Tests folders are left out); --tables: the list files of its own table;
--modules: list files of its language module, whose names the program
leaves to that module on purpose. Names with a built-in text (the library's
fallback table, "{&NAME, L"...") need none. On success STAMP is written.
"""
import argparse
import pathlib
import re
import sys

NAME = re.compile(r'\b(?:ERR|MSG)_[A-Z0-9_]+\b')
STRING = re.compile(r'L?"(?:[^"\\]|\\.)*"')
COMMENT = re.compile(r'//[^\n]*|/\*.*?\*/', re.S)
FALLBACK = re.compile(r'\{&(?:Bas::)?((?:ERR|MSG)_[A-Z0-9_]+),\s*L"')


def table_names(paths):
    names = set()
    for path in paths:
        for line in pathlib.Path(path).read_text(encoding='utf-8').splitlines():
            if line and not line.startswith('#'):
                names.add(line.split('\t', 1)[0])
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('stamp')
    parser.add_argument('--sources', nargs='+', required=True)
    parser.add_argument('--tables', nargs='+', required=True)
    parser.add_argument('--modules', nargs='*', default=[])
    args = parser.parse_args()
    own = table_names(args.tables)
    left = table_names(args.modules)
    used = {}
    builtin = set()
    for folder in args.sources:
        for path in sorted(pathlib.Path(folder).rglob('*.cpp')):
            if 'Tests' in path.relative_to(folder).parts:
                continue
            text = path.read_text(encoding='utf-8')
            builtin |= set(FALLBACK.findall(text))
            code = STRING.sub('""', COMMENT.sub('', text))
            for name in NAME.findall(code):
                used.setdefault(name, str(path))
    missing = sorted(n for n in used if n not in own and n not in left and n not in builtin)
    for name in missing:
        print(f'{used[name]}: {name} has no text in the program\'s own table', file=sys.stderr)
    if missing:
        return 1
    pathlib.Path(args.stamp).write_text('checked\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
