#!/usr/bin/env python3
"""Points an i686 image's Load Configuration directory at its _load_config_used symbol, which
GNU ld leaves unlinked, so that a deliberately bad build can carry a SafeSEH table.

Usage, from the clone's root: python3 -m tests.pe.seh_table NM EXE   (EXE is changed in place)"""
import subprocess
import sys

from harness import pe


def main():
    nm, exe = sys.argv[1:]
    symbols = subprocess.run([nm, exe], check=True, capture_output=True, text=True).stdout
    address = next(int(line.split()[0], 16) for line in symbols.splitlines()
                   if line.endswith(' __load_config_used'))
    pe.point_load_config(exe, address, pe.SE_HANDLER_COUNT_END)


if __name__ == '__main__':
    main()
