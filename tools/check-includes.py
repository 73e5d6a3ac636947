#!/usr/bin/env python3
"""Fails when an #include breaks the layout, naming the file, the line and the rule broken.

    tools/check-includes.py [SOURCE_ROOT] [BUILD_ROOT]    (defaults: this script's parent folder, SOURCE_ROOT/build)

The layout is the table under "## Layout" in README.md, listed from the bottom up. Two rules:
  - every project header is included by its path from the top folder (or, when generated, from the
    build folder): "engine/engine_control.h", never "engine_control.h";
  - a library includes only its own headers and those of libraries listed above it. Folders whose
    row names no links (tests/, bench/, tools/) may include any library; no library includes theirs.
A sub-folder belongs to the nearest folder with a row of its own.
On success it prints which folder includes which.
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
ROW = re.compile(r'^\|\s*`([^`]+)/`\s*\|.*\|(.*)\|\s*$')


def read_layout(readme):
    """The table's folders in order, and the set of those free to include any library."""
    lines = readme.read_text(encoding='utf-8').splitlines()
    try:
        start = lines.index('## Layout')
    except ValueError:
        sys.exit(f'check-includes: {readme} has no "## Layout" section')
    folders, free = [], set()
    for line in lines[start + 1:]:
        if line.startswith('## '):
            break
        match = ROW.match(line)
        if match:
            folders.append(match.group(1))
            if not match.group(2).strip():
                free.add(match.group(1))
    if not folders:
        sys.exit(f'check-includes: no folder rows in the "## Layout" table of {readme}')
    return folders, free


def owner(path, folders):
    """The folder with a row that holds path (a path from the top folder), or None."""
    best = None
    for folder in folders:
        if path == folder or path.startswith(folder + '/'):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    build = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else root / 'build'
    folders, free = read_layout(root / 'README.md')
    rank = {folder: i for i, folder in enumerate(folders)}

    def exists(header):
        # A generated header is found in the build folder, or by its template before the first build.
        return (root / header).is_file() or (build / header).is_file() or (root / (header + '.in')).is_file()

    sources = sorted({p for folder in folders for p in (root / folder).rglob('*')
                      if p.suffix in ('.cpp', '.h') and p.is_file()})
    errors, uses = [], {}
    for source in sources:
        name = source.relative_to(root).as_posix()
        home = owner(name, folders)
        for number, line in enumerate(source.read_text(encoding='utf-8').splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            bracket, header = match.groups()
            where = f'{name}:{number}: #include {bracket}{header}{">" if bracket == "<" else chr(34)}'
            if bracket == '<':
                if owner(header, folders) and exists(header):
                    errors.append(f'{where}: a project header goes in quotes, not angle brackets')
                continue
            if '/' not in header:
                errors.append(f'{where}: names no folder; include it by its path from the top folder')
                continue
            if not exists(header):
                errors.append(f'{where}: no such header from the top folder or the build folder')
                continue
            target = owner(header, folders)
            if target is None:
                errors.append(f'{where}: {header} lies in no folder of the README\'s layout table')
                continue
            uses.setdefault(home, set()).add(target)
            if home in free or target == home:
                continue
            if target in free:
                errors.append(f'{where}: library {home}/ includes a header of {target}/, which only programs and '
                              f'tests may use')
            elif rank[target] > rank[home]:
                errors.append(f'{where}: library {home}/ includes a header of {target}/, a library listed after it '
                              f'in the README\'s layout table (each may include only those listed above it)')

    if errors:
        print('\n'.join(errors))
        print(f'check-includes: {len(errors)} include(s) break the layout of README.md')
        return 1
    print(f'check-includes: {len(sources)} files follow the layout of README.md; folder: the folders it includes')
    for folder in folders:
        print(f'  {folder}/: ' + ', '.join(f'{t}/' for t in sorted(uses.get(folder, ()) - {folder}, key=rank.get)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
