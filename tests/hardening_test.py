#!/usr/bin/env python3
"""Reads the hardening marks of built programs and fails when one is missing.

  hardening_test.py elf READELF PROGRAM...   Linux: immediate binding, PIE,
                                             RELRO, stack protector, fortified calls
  hardening_test.py pe OBJDUMP PROGRAM...    Windows: ASLR, DEP, relocations,
                                             stack protector linked statically
  hardening_test.py pe-start OBJDUMP PROGRAM...  Windows: no library loaded at
                                             start that only a later step needs

Prints every mark it read, for each program.
"""

import re
import subprocess
import sys


def tool(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def elf_facts(readelf, program):
    dynamic = tool(readelf, '-dW', program)
    flags_1 = re.search(r'\(FLAGS_1\)\s+Flags:(.*)', dynamic)
    flags = re.search(r'\(FLAGS\)\s+(.*)', dynamic)
    # Symbol lines end in the name, with its version when it has one:
    # "... UND __stack_chk_fail@GLIBC_2.4 (14)".
    symbols = re.findall(r'^\s*\d+:\s.*?\s([^\s@]+)(?:@\S*(?: \(\d+\))?)?$',
                         tool(readelf, '--dyn-syms', '-W', program), re.M)
    return {
        'type': re.search(r'Type:\s+(\S+)', tool(readelf, '-hW', program)).group(1),
        'flags_1': flags_1.group(1).split() if flags_1 else [],
        'flags': flags.group(1).split() if flags else [],
        'segments': re.findall(r'^\s+([A-Z_]+)\s+0x', tool(readelf, '-lW', program), re.M),
        'symbols': set(symbols),
    }


def pe_facts(objdump, program):
    headers = tool(objdump, '-p', '-h', program)
    characteristics = re.search(r'^DllCharacteristics\s+([0-9a-fA-F]+)', headers, re.M)
    return {
        'dll_characteristics': int(characteristics.group(1), 16) if characteristics else 0,
        'sections': re.findall(r'^\s+\d+\s+(\S+)\s', headers, re.M),
        'dlls': [d.lower() for d in re.findall(r'DLL Name: (\S+)', headers)],
        'symbols': set(re.findall(r'\s(\S+)$', tool(objdump, '-t', program), re.M)),
    }


IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100

# (mark, what shows it): each a check on the facts read from one program.
CHECKS = {
    'elf': [
        ('BIND_NOW (-z now)', lambda f: 'NOW' in f['flags_1'] or 'BIND_NOW' in f['flags']),
        ('PIE', lambda f: f['type'] == 'DYN' and 'PIE' in f['flags_1']),
        ('GNU_RELRO segment', lambda f: 'GNU_RELRO' in f['segments']),
        ('stack protector (__stack_chk_fail)', lambda f: '__stack_chk_fail' in f['symbols']),
        ('_FORTIFY_SOURCE (a __*_chk call)',
         lambda f: any(re.fullmatch(r'__\w+_chk', s) and s != '__stack_chk_fail'
                       for s in f['symbols'])),
    ],
    'pe': [
        ('DYNAMIC_BASE (ASLR)',
         lambda f: f['dll_characteristics'] & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE),
        ('NX_COMPAT (DEP)',
         lambda f: f['dll_characteristics'] & IMAGE_DLLCHARACTERISTICS_NX_COMPAT),
        ('.reloc section', lambda f: '.reloc' in f['sections']),
        ('stack protector (__stack_chk_fail)',
         lambda f: {'__stack_chk_fail', '___stack_chk_fail'} & f['symbols']),
        ('libssp linked statically (no libssp-0.dll)',
         lambda f: 'libssp-0.dll' not in f['dlls']),
    ],
    # COM comes with the first process lookup (base/com_ptr_win.h): an import
    # would load it, with combase and rpcrt4, before the tray icon. So do the
    # common controls with the first dialog that needs them
    # (app/common_controls.h).
    'pe-start': [
        ('ole32 and oleaut32 loaded when first used, not imported',
         lambda f: not {'ole32.dll', 'oleaut32.dll'} & set(f['dlls'])),
        ('comctl32 loaded when first used, not imported',
         lambda f: 'comctl32.dll' not in f['dlls']),
    ],
}
READERS = {'elf': elf_facts, 'pe': pe_facts, 'pe-start': pe_facts}


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in CHECKS:
        sys.exit(__doc__)
    kind, reader, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    missing = []
    for program in programs:
        facts = READERS[kind](reader, program)
        for mark, present in CHECKS[kind]:
            ok = bool(present(facts))
            print('%-4s %s: %s' % ('ok' if ok else 'LOST', program, mark))
            if not ok:
                missing.append('%s: %s' % (program, mark))
    if missing:
        what = 'start-up marks' if kind == 'pe-start' else 'hardening'
        sys.exit(what + ' lost:\n  ' + '\n  '.join(missing))


if __name__ == '__main__':
    main()
