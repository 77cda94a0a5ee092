"""The chipset probe on emulated PCI boards: the bare-metal kernel's report over its serial line,
on each board of harness/boards.json that it runs on, against BOARD.expected."""

import shutil
import subprocess
from pathlib import Path

import pytest

from harness import Unavailable, boards, build

# The kernel ends QEMU through isa-debug-exit with 0x21; QEMU exits with 2 * value + 1.
KERNEL_DONE = 2 * 0x21 + 1
BOOT_SECONDS = 30


@pytest.mark.parametrize("board", boards.of("baremetal"))
def test_board(board):
    kernel = build.path("baremetal_kernel")
    qemu = shutil.which("qemu-system-i386")
    if qemu is None:
        raise Unavailable("qemu-system-i386 is not installed (Debian package qemu-system-x86)")
    try:
        run = subprocess.run(
            [qemu, "-kernel", kernel, "-display", "none", "-serial", "stdio", "-no-reboot",
             "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04"] + boards.qemu_options(board),
            capture_output=True, timeout=BOOT_SECONDS, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired as e:
        pytest.fail("the kernel did not end QEMU within %d s; its serial output so far:\n%s"
                    % (BOOT_SECONDS, (e.stdout or b"").decode("latin-1")))
    expected = Path(__file__).with_name(board + ".expected").read_text(encoding="latin-1")
    assert run.stdout.decode("latin-1").splitlines() == expected.splitlines()
    assert run.returncode == KERNEL_DONE, run.stderr.decode(errors="replace")
