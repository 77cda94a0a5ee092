"""Checks that an i686 build (Qorvalin and QVDUMP) can load and run on Windows 95 and on a 486: what it imports,
its header versions, no TLS directory, and no instruction newer than the i486; and that
Windows XP SP2 and later still call the port guard's frame-based handler: no SafeSEH table
(it would not list the handler) and no NO_SEH flag. Builds made to fail each check must fail
it, with the problem named."""
import re
import subprocess
from pathlib import Path

import pytest

from harness import build, pe

HERE = Path(__file__).parent
ALLOWED_DLLS = {'KERNEL32.DLL', 'USER32.DLL', 'GDI32.DLL', 'ADVAPI32.DLL', 'COMDLG32.DLL'}

# Mnemonics and registers that a 486 does not have (Pentium and later).
NEWER_THAN_486 = re.compile(
    r'\b(cmov\w+|fcmov\w+|fcomip?|fucomip?|rdtsc|rdtscp|rdpmc|rdmsr|wrmsr|cpuid|cmpxchg8b|'
    r'cmpxchg16b|sysenter|sysexit|syscall|emms|femms|prefetch\w*|[lsm]fence|clflush|movnti|'
    r'popcnt|lzcnt|tzcnt|movbe|crc32)\b|%[xy]?mm\d')


def read_list(name):
    return {word for line in (HERE / name).read_text(encoding='utf-8').splitlines()
            if not line.startswith('#') for word in line.split()}


def header_problems(image):
    problems = ['%s %d.%d is above 4.0' % (field, *version)
                for field, version in pe.versions(image).items() if version > (4, 0)]
    if pe.directory(image, 'IMAGE_DIRECTORY_ENTRY_TLS').Size != 0:
        problems.append('the image has a TLS directory')
    return problems


def seh_problems(image):
    """Windows refuses a frame-based handler that a SafeSEH table omits, and every handler of
    an image marked NO_SEH."""
    if not pe.is_32_bit(image):
        return ['not a 32-bit image']
    problems = []
    if image.OPTIONAL_HEADER.DllCharacteristics & pe.NO_SEH:
        problems.append('DllCharacteristics has NO_SEH (0x0400): no frame-based handler runs')
    try:
        count = pe.safe_seh_table(image)
    except pe.OutsideFile as e:
        return problems + [str(e)]
    if count is not None:
        problems.append('the Load Configuration directory has a SafeSEH table of %d '
                        'handler(s), which does not list the port guard' % count)
    return problems


def import_problems(imports, kernel32, allowlist):
    problems = []
    for dll, name in imports:
        if dll not in ALLOWED_DLLS:
            problem = 'imports from %s' % dll
            if problem not in problems:
                problems.append(problem)
        elif name is None:
            problems.append('imports from %s by ordinal' % dll)
        elif dll == 'KERNEL32.DLL' and name not in kernel32:
            problems.append('imports %s, which the Windows 95 KERNEL32 lacks' % name)
        elif dll != 'KERNEL32.DLL' and name not in allowlist:
            problems.append('imports %s from %s, which is not on the allowlist' % (name, dll))
    return problems


def instruction_problems(disassembly):
    return ['instruction newer than the i486: %s' % parts[2].strip()
            for parts in (line.split('\t') for line in disassembly.splitlines())
            if len(parts) >= 3 and NEWER_THAN_486.search(parts[2])]


def image_problems(exe):
    """Every problem of the image, and the number of its imports."""
    image = pe.read(exe)
    imports = pe.imports(image)
    problems = header_problems(image)
    problems += import_problems(imports, read_list('win95-kernel32.txt'),
                                read_list('win95-allowlist.txt'))
    problems += instruction_problems(subprocess.run(
        [build.path("objdump_i686"), '-d', exe], check=True, capture_output=True, text=True).stdout)
    problems += seh_problems(image)
    return problems, len(imports)


# The image each check reads (by its name in the build), and the problem it must find: the
# programs must have none, each bad build the one it was made with.
CHECKS = {
    "product loads on Windows 95": ("win32_exe", None),
    "QVDUMP loads on Windows 95": ("win32_qvdump", None),
    "rejects a missing KERNEL32 import": ("pe_bad_imports", "IsDebuggerPresent"),
    "rejects Pentium Pro instructions": ("pe_bad_cpu", "cmov"),
    "rejects the C runtime DLL": ("pe_bad_crt", "MSVCRT"),
    "rejects a SafeSEH table": ("pe_bad_seh", "SafeSEH"),
    "rejects NO_SEH": ("pe_bad_seh", "NO_SEH"),
}


@pytest.mark.parametrize("check", CHECKS)
def test_image(check):
    image, expected = CHECKS[check]
    problems, count = image_problems(build.path(image))
    if expected is None:
        assert problems == []
        assert count > 0, "the image imports nothing"
    else:
        assert [p for p in problems if expected in p], problems
