#!/usr/bin/env python3
"""Fails when a program's source hands a path to a Windows function that
opens, lists or describes files without the long-path helper: past MAX_PATH
the plain forms fail on Windows (Wine does not enforce the limit), and they
strip a trailing dot or blank from a component and map names such as
"nul.txt" to devices, so that a listed name would open another file.

A call passes when its path argument is LongPath(...) itself, or a variable
of the file whose initialiser calls LongPath (for a path that is only
sometimes a file path, such as a security object's name). Calls are found
across line breaks; comments and string literals are not read.

    check_long_paths.py SOURCE_ROOT
"""
import pathlib
import re
import sys

FUNCTIONS = ('CreateFileW', 'DeleteFileW', 'RemoveDirectoryW', 'CreateDirectoryW', 'CreateDirectoryExW',
             'GetFileAttributesW', 'GetFileAttributesExW', 'SetFileAttributesW', 'FindFirstFileW',
             'FindFirstFileExW', 'CopyFileW', 'CopyFileExW', 'MoveFileW', 'MoveFileExW', 'ReplaceFileW',
             'CreateHardLinkW', 'GetCompressedFileSizeW', 'GetFileVersionInfoSizeW', 'GetFileVersionInfoW',
             'GetFileVersionInfoSizeExW', 'GetFileVersionInfoExW', 'GetNamedSecurityInfoW',
             'SetNamedSecurityInfoW', 'GetFileSecurityW', 'SetFileSecurityW')
# The versions' Ex forms take flags before the path.
PATH_ARGUMENT = {'GetFileVersionInfoSizeExW': 1, 'GetFileVersionInfoExW': 1}
CALL = re.compile(r'(?<![\w.>])(?:::)?(%s)\s*\(' % '|'.join(FUNCTIONS))
LONG_PATH = re.compile(r'(?:Bas::)?LongPath\(')
MADE_LONG = re.compile(r'std::wstring\s+(\w+)\s*=[^;]*?(?:Bas::)?LongPath\(')
# Folders of the programs, their libraries and the benchmark; tests make
# their own short paths.
FOLDERS = ('Basalt', 'Granite', 'Mica', 'Glean', 'Hermod', 'bench')


def strip_comments_and_strings(text):
    """The text with comments and literals blanked, line breaks kept."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|L?"(?:\\.|[^"\\\n])*"|L?\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r'[^\n]', ' ', m.group(0)) if m.group(0).startswith(('/', 'L/'))
                       else '""', text)


def arguments(text, start):
    """The top-level arguments of the call whose "(" is before `start`."""
    depth, current, result = 0, [], []
    for char in text[start:]:
        if char in '([{':
            depth += 1
        elif char in ')]}':
            if depth == 0:
                result.append(''.join(current).strip())
                return result
            depth -= 1
        elif char == ',' and depth == 0:
            result.append(''.join(current).strip())
            current = []
            continue
        current.append(char)
    return result


def check(text):
    """(line, function) of every call whose path does not come from LongPath."""
    made_long = set(MADE_LONG.findall(text))
    bad = []
    for match in CALL.finditer(text):
        args = arguments(text, match.end())
        index = PATH_ARGUMENT.get(match.group(1), 0)
        path = args[index] if index < len(args) else ''
        variable = re.fullmatch(r'(\w+)\.(?:c_str|data)\(\)', path)
        if LONG_PATH.match(path) or (variable and variable.group(1) in made_long):
            continue
        bad.append((text.count('\n', 0, match.start()) + 1, match.group(1)))
    return bad


def main():
    root = pathlib.Path(sys.argv[1])
    bad = []
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob('*.cpp')):
            if 'Tests' in path.relative_to(root).parts:
                continue
            text = strip_comments_and_strings(path.read_text(encoding='utf-8'))
            for number, function in check(text):
                bad.append(f'{path.relative_to(root)}:{number}: {function} without LongPath')
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
