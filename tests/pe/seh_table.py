#!/usr/bin/env python3
"""Points an i686 image's Load Configuration directory at its _load_config_used symbol, which
GNU ld leaves unlinked, so that a deliberately bad build can carry a SafeSEH table.

Usage: seh_table.py NM EXE   (EXE is changed in place)"""
import struct
import subprocess
import sys


def main():
    nm, exe = sys.argv[1:]
    symbols = subprocess.run([nm, exe], check=True, capture_output=True, text=True).stdout
    address = next(int(line.split()[0], 16) for line in symbols.splitlines()
                   if line.endswith(' __load_config_used'))
    with open(exe, 'r+b') as f:
        image = bytearray(f.read())
        optional = struct.unpack_from('<I', image, 0x3C)[0] + 24
        image_base = struct.unpack_from('<I', image, optional + 28)[0]
        table = address - image_base
        config_size = 0x48  # up to SEHandlerCount, as Windows XP reads it
        struct.pack_into('<II', image, optional + 96 + 8 * 10, table, config_size)
        f.seek(0)
        f.write(image)


if __name__ == '__main__':
    main()
