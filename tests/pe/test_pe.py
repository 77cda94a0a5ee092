"""Checks that an i686 build (Qorvalin and QVDUMP) can load and run on Windows 95 and on a 486: what it imports,
its header versions, no TLS directory, and no instruction newer than the i486; and that
Windows XP SP2 and later still call the port guard's frame-based handler: no SafeSEH table
(it would not list the handler) and no NO_SEH flag. Builds made to fail each check must fail
it, with the problem named."""
import re
import struct
import subprocess
from pathlib import Path

import pytest

from harness import build

HERE = Path(__file__).parent
ALLOWED_DLLS = {'KERNEL32.DLL', 'USER32.DLL', 'GDI32.DLL', 'ADVAPI32.DLL', 'COMDLG32.DLL'}

# Mnemonics and registers that a 486 does not have (Pentium and later).
NEWER_THAN_486 = re.compile(
    r'\b(cmov\w+|fcmov\w+|fcomip?|fucomip?|rdtsc|rdtscp|rdpmc|rdmsr|wrmsr|cpuid|cmpxchg8b|'
    r'cmpxchg16b|sysenter|sysexit|syscall|emms|femms|prefetch\w*|[lsm]fence|clflush|movnti|'
    r'popcnt|lzcnt|tzcnt|movbe|crc32)\b|%[xy]?mm\d')


def read_list(path):
    names = set()
    with open(path, encoding='utf-8') as f:
        for line in f:
            if not line.startswith('#'):
                names.update(line.split())
    return names


def objdump(tool, flag, exe):
    return subprocess.run([tool, flag, exe], check=True, capture_output=True, text=True).stdout


def header_problems(dump):
    problems = []
    for field in ('MajorSubsystemVersion', 'MajorOSystemVersion'):
        minor = field.replace('Major', 'Minor')
        major_v = int(re.search(field + r'\s+(\d+)', dump).group(1))
        minor_v = int(re.search(minor + r'\s+(\d+)', dump).group(1))
        if (major_v, minor_v) > (4, 0):
            problems.append('%s %d.%d is above 4.0' % (field.replace('Major', ''), major_v, minor_v))
    tls = re.search(r'Entry 9 ([0-9a-fA-F]+) ([0-9a-fA-F]+)', dump)
    if tls and int(tls.group(2), 16) != 0:
        problems.append('the image has a TLS directory')
    return problems


IMAGE_DLLCHARACTERISTICS_NO_SEH = 0x0400
LOAD_CONFIG_ENTRY = 10
SE_HANDLER_COUNT_END = 0x48  # SEHandlerTable at 0x40, SEHandlerCount at 0x44


def file_offset(image, rva):
    """Where in the file the image's relative address lies, or None outside every section."""
    pe = struct.unpack_from('<I', image, 0x3C)[0]
    sections, optional_size = struct.unpack_from('<H12xH', image, pe + 6)
    table = pe + 24 + optional_size
    for i in range(sections):
        size, address, raw_size, raw_at = struct.unpack_from('<IIII', image, table + 40 * i + 8)
        if address <= rva < address + max(size, raw_size):
            return raw_at + rva - address if rva - address < raw_size else None
    return None


def seh_problems(image):
    """Windows refuses a frame-based handler that a SafeSEH table omits, and every handler of
    an image marked NO_SEH."""
    problems = []
    optional = struct.unpack_from('<I', image, 0x3C)[0] + 24
    if struct.unpack_from('<H', image, optional)[0] != 0x10B:
        return ['not a 32-bit image']
    if struct.unpack_from('<H', image, optional + 70)[0] & IMAGE_DLLCHARACTERISTICS_NO_SEH:
        problems.append('DllCharacteristics has NO_SEH (0x0400): no frame-based handler runs')
    rva, size = struct.unpack_from('<II', image, optional + 96 + 8 * LOAD_CONFIG_ENTRY)
    if size == 0:
        return problems
    at = file_offset(image, rva)
    if at is None or at + 4 > len(image):
        return problems + ['the Load Configuration directory lies outside the file']
    length = min(struct.unpack_from('<I', image, at)[0], size, len(image) - at)
    if length >= SE_HANDLER_COUNT_END:
        table, count = struct.unpack_from('<II', image, at + 0x40)
        if table != 0 or count != 0:
            problems.append('the Load Configuration directory has a SafeSEH table of %d '
                            'handler(s), which does not list the port guard' % count)
    return problems


def imports(dump):
    """Yields (dll, name) for every import; name is None for an import by ordinal."""
    dll = None
    for line in dump.splitlines():
        m = re.match(r'\s+DLL Name: (\S+)', line)
        if m:
            dll = m.group(1).upper()
            continue
        m = re.match(r'\s+[0-9a-f]+\s+(\d+)\s+(\S+)?\s*$', line)
        if dll and m:
            name = m.group(2)
            yield dll, (None if name in (None, '<none>') else name)


def import_problems(dump, kernel32, allowlist):
    problems = []
    for dll, name in imports(dump):
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
    problems = []
    for line in disassembly.splitlines():
        parts = line.split('\t')
        if len(parts) >= 3 and NEWER_THAN_486.search(parts[2]):
            problems.append('instruction newer than the i486: %s' % parts[2].strip())
    return problems


def image_problems(exe):
    """Every problem of the image, and the number of its imports."""
    tool = build.path("objdump_i686")
    dump = objdump(tool, '-p', exe)
    problems = header_problems(dump)
    problems += import_problems(dump, read_list(HERE / 'win95-kernel32.txt'),
                                read_list(HERE / 'win95-allowlist.txt'))
    problems += instruction_problems(objdump(tool, '-d', exe))
    problems += seh_problems(Path(exe).read_bytes())
    return problems, sum(1 for _ in imports(dump))


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
        assert (problems, count > 0) == ([], True), "%d imports" % count
    else:
        assert [p for p in problems if expected in p], problems
