#!/usr/bin/env python3
"""Boots the bare-metal chipset kernel under qemu-system-i386 on one board and compares the
report it sends over the serial line with the expected one. Exit status 77 means skipped: the
reason is printed, and only a QEMU that cannot start at all, or a kernel that could not be
built, is a reason."""
import argparse
import difflib
import subprocess
import sys

SKIPPED = 77
# The kernel ends QEMU through isa-debug-exit with 0x21; QEMU exits with 2 * value + 1.
KERNEL_DONE = 2 * 0x21 + 1
BOOT_TIMEOUT = 30


def skip(reason):
    print('SKIPPED: ' + reason)
    sys.exit(SKIPPED)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--qemu', default='')
    parser.add_argument('--kernel', required=True)
    parser.add_argument('--expected', required=True)
    parser.add_argument('--skip', help='the kernel could not be built, for this reason')
    parser.add_argument('board', nargs=argparse.REMAINDER,
                        help='after --: the options that choose the board')
    args = parser.parse_args()
    board = [a for a in args.board if a != '--']

    if args.skip:
        skip(args.skip)
    if not args.qemu or args.qemu.endswith('-NOTFOUND'):
        skip('qemu-system-i386 is not installed (Debian package qemu-system-x86)')
    try:
        probe = subprocess.run([args.qemu, '-version'], capture_output=True, timeout=BOOT_TIMEOUT)
    except (OSError, subprocess.TimeoutExpired) as error:
        skip('%s cannot run: %s' % (args.qemu, error))
    if probe.returncode != 0:
        skip('%s -version failed with status %d: %s'
             % (args.qemu, probe.returncode, probe.stderr.decode(errors='replace').strip()))

    command = [args.qemu, '-kernel', args.kernel, '-display', 'none', '-serial', 'stdio',
               '-no-reboot', '-device', 'isa-debug-exit,iobase=0xf4,iosize=0x04'] + board
    print('running: ' + ' '.join(command))
    try:
        run = subprocess.run(command, capture_output=True, timeout=BOOT_TIMEOUT,
                             stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired as error:
        print('FAILED: the kernel did not end QEMU within %d s; serial output so far:' % BOOT_TIMEOUT)
        print((error.stdout or b'').decode('latin-1'))
        return 1
    report = run.stdout.decode('latin-1')
    with open(args.expected, encoding='latin-1') as f:
        expected = f.read()
    failed = False
    if run.returncode != KERNEL_DONE:
        print('FAILED: QEMU exited with status %d, not %d (the kernel did not reach its end)'
              % (run.returncode, KERNEL_DONE))
        print(run.stderr.decode(errors='replace'))
        failed = True
    if report != expected:
        print('FAILED: the report differs from %s' % args.expected)
        sys.stdout.writelines(difflib.unified_diff(
            expected.splitlines(True), report.splitlines(True), 'expected', 'kernel'))
        failed = True
    if not failed:
        print(report, end='')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
