#!/usr/bin/env python3
"""Fails when a program's source hands a path to a Windows file function
without the long-path helper: past MAX_PATH the plain forms fail on Windows
(Wine does not enforce the limit, so no run under it can tell).

    check_long_paths.py SOURCE_ROOT
"""
import pathlib
import re
import sys

FUNCTIONS = ('CreateFileW', 'DeleteFileW', 'RemoveDirectoryW', 'CreateDirectoryW', 'GetFileAttributesW',
             'GetFileAttributesExW', 'SetFileAttributesW', 'FindFirstFileW', 'FindFirstFileExW', 'CopyFileW',
             'MoveFileW', 'MoveFileExW', 'ReplaceFileW')
CALL = re.compile(r'::(%s)\(\s*([^,)]*)' % '|'.join(FUNCTIONS))
# Folders of the programs, their libraries and the benchmark; tests make
# their own short paths.
FOLDERS = ('Basalt', 'Granite', 'Mica', 'Glean', 'Hermod', 'bench')


def main():
    root = pathlib.Path(sys.argv[1])
    bad = []
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob('*.cpp')):
            if 'Tests' in path.relative_to(root).parts:
                continue
            for number, line in enumerate(path.read_text(encoding='utf-8').splitlines(), 1):
                for match in CALL.finditer(line):
                    if not re.match(r'(Bas::)?LongPath\(', match.group(2)):
                        bad.append(f'{path.relative_to(root)}:{number}: {match.group(1)} without LongPath')
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
