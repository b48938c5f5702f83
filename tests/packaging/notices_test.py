"""The notices an artefact ships name every third-party component its programs
actually contain, as read from the built programs themselves: symbols defined
in them (nm) and the shared libraries they need (readelf).

Usage: notices_test.py NM READELF ARTEFACT PROGRAM...
ARTEFACT is a .zip, .msi or .deb; each PROGRAM is the unstripped build of a
program the artefact ships (under the same file name)."""

import os
import re
import subprocess
import sys
import tempfile
import zipfile

# What a program contains, how it shows, and the words its notices must hold.
# Only symbols the program defines count: a shared library's are undefined.
SYMBOL_MARKERS = [
    ('CLI11', re.compile(r'\bCLI::App::'), ['CLI11', 'BSD-3-clause']),
    ('winpthreads', re.compile(r'^_?pthread_create$'), ['winpthreads']),
    ('MinGW-w64 runtime', re.compile(r'^_?_pei386_runtime_relocator$'), ['MinGW-w64', 'ZPL-2.1']),
    ('libstdc++', re.compile(r'^_?__gxx_personality_v0$'),
     ['libstdc++', 'GCC RUNTIME LIBRARY EXCEPTION']),
    ('libgcc', re.compile(r'^_?__udivdi3$'), ['libgcc', 'GCC RUNTIME LIBRARY EXCEPTION']),
    ('libssp', re.compile(r'^_?__stack_chk_fail$'), ['libssp', 'GCC RUNTIME LIBRARY EXCEPTION']),
]
NEEDED_QT = re.compile(r'\(NEEDED\)\s+Shared library: \[(libQt6\w+)\.so')


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def contents(program, nm, readelf):
    """(component, words) for everything found in one program."""
    found = []
    symbols = run(nm, '--defined-only', '--demangle', '--format=just-symbols', program).splitlines()
    for name, pattern, words in SYMBOL_MARKERS:
        if any(pattern.search(symbol.strip()) for symbol in symbols):
            found.append((name, words))
    with open(program, 'rb') as f:
        elf = f.read(4) == b'\x7fELF'
    if elf:
        for library in NEEDED_QT.findall(run(readelf, '-d', program)):
            found.append((library, [library, 'LGPL-3']))
    return found


def shipped(artefact, folder):
    """(file names in the artefact, text of its notices)."""
    if artefact.endswith('.zip'):
        with zipfile.ZipFile(artefact) as z:
            names = z.namelist()
            notices = [n for n in names if n.endswith('/THIRD-PARTY-NOTICES.txt')]
            text = z.read(notices[0]).decode() if len(notices) == 1 else ''
    elif artefact.endswith('.msi'):
        names = run('msiextract', '-C', folder, artefact).splitlines()
        notices = [n for n in names if n.endswith('/THIRD-PARTY-NOTICES.txt')]
        text = open(os.path.join(folder, notices[0])).read() if len(notices) == 1 else ''
    else:
        run('dpkg-deb', '-x', artefact, folder)
        names = run('dpkg-deb', '-c', artefact).split()
        package = run('dpkg-deb', '-f', artefact, 'Package').strip()
        copyright = os.path.join(folder, 'usr/share/doc', package, 'copyright')
        text = open(copyright).read() if os.path.exists(copyright) else ''
    return [os.path.basename(n) for n in names], text


def main():
    nm, readelf, artefact, programs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    with tempfile.TemporaryDirectory() as folder:
        names, text = shipped(artefact, folder)
    problems = [] if text else ['no notices in ' + artefact]
    for program in programs:
        base = os.path.basename(program)
        if base not in names:
            problems.append('%s does not ship %s' % (artefact, base))
        found = contents(program, nm, readelf)
        if not found:
            problems.append('nothing recognised in %s: is it the right program?' % base)
        for name, words in found:
            missing = [w for w in words if w not in text]
            print('%-20s %-20s %s' % (base, name, 'missing ' + ', '.join(missing) if missing
                                      else 'named'))
            if missing:
                problems.append('%s contains %s; its notices lack %s' % (base, name, missing))
    for problem in problems:
        print('FAIL ' + problem)
    sys.exit(1 if problems else 0)


if __name__ == '__main__':
    main()
