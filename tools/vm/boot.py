"""tools/vm/boot.py GUEST_DIR BOARD IO_DIR SECONDS [--writable]: boots the test guest once on the
given board with IO_DIR shared as the guest's /io, and waits for it to power itself off; the exit
status is the job's. The disk is a throw-away overlay unless --writable (the image's first boot).

A boot's start, to the guest's Wine session, is the same every time on a board: the first boot
saves the guest's state there, in GUEST_DIR/states, and later boots start from it."""

import os
import subprocess
import sys
import time

from harness import qemu
from harness import wine

BOARDS = {
    "pc": ["-M", "pc"],
    "piix3-usb-uhci": ["-M", "pc", "-device", "piix3-usb-uhci"],
    "piix4-usb-uhci": ["-M", "pc", "-device", "piix4-usb-uhci"],
    "q35": ["-M", "q35"],
}
# What the guest's session prints on its console: it waits for the host's word, or it failed
# and the guest's job goes on to report why.
READY = b"qorvalin-vm: session ready"
FAILED = b"qorvalin-vm: session failed"


def command(guest, board, io, writable):
    # One emulated CPU: under software emulation a second one makes a boot a sixth faster on an
    # idle host, and far slower beside other tests, its two CPUs waiting on each other while
    # the host runs something else. QEMU 7.2's TCG mishandles the return from 32-bit system
    # calls unless SMAP is off.
    return (["qemu-system-x86_64"] + BOARDS[board] + qemu.accelerator("max,smap=off") +
            ["-smp", "1", "-m", "2048",
             "-kernel", os.path.join(guest, "vmlinuz"),
             "-initrd", os.path.join(guest, "initrd.img"),
             "-append", "root=/dev/vda %s console=ttyS0 panic=-1 quiet init=/sbin/qorvalin-init"
             % ("rw" if writable else "ro"),
             "-drive", "file=%s,format=raw,if=virtio,snapshot=%s"
             % (os.path.join(guest, "disk.img"), "off" if writable else "on"),
             "-virtfs", "local,path=%s,mount_tag=io,security_model=none" % io,
             "-display", "none", "-vga", "none", "-nic", "none", "-no-reboot",
             "-serial", "file:%s" % os.path.join(io, "console.log"),
             "-serial", "unix:%s,server=on,wait=off" % os.path.join(io, "go.sock"),
             "-monitor", "unix:%s,server=on,wait=off" % os.path.join(io, "monitor.sock")])


def start(guest, board, io, writable, state=None):
    for name in ("go.sock", "monitor.sock", "console.log"):
        if os.path.exists(os.path.join(io, name)):
            os.remove(os.path.join(io, name))
    args = command(guest, board, io, writable) + (qemu.incoming(state) if state else [])
    with open(os.path.join(io, "qemu.log"), "a") as log:
        return subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT)


def stop(process):
    process.kill()
    process.wait()


def session_started(io, process, deadline):
    """Waits for the guest's session to say how it started: READY, FAILED, or None when QEMU
    ended or time is up first."""
    console = os.path.join(io, "console.log")
    while time.time() < deadline and process.poll() is None:
        if os.path.exists(console):
            with open(console, "rb") as f:
                said = f.read()
            for word in (READY, FAILED):
                if word in said:
                    return word
        time.sleep(0.2)
    return None


class BootFailed(Exception):
    """The boot cannot go on; the message says why."""


def start_session(guest, board, io, deadline):
    """QEMU with the guest in its Wine session, waiting for the host's word: started from the
    board's saved state, which a boot without one makes. Returns QEMU and whether the guest waits
    for the word (not when its session failed: its job then goes on to report why)."""
    monitor = os.path.join(io, "monitor.sock")
    state = qemu.state_path(os.path.join(guest, "states"), board, command(guest, board, "", False))
    if os.path.isfile(state):
        process = start(guest, board, io, False, state)
        if qemu.resume(monitor, process):
            return process, True
        # A state QEMU cannot load is of no use to later boots either.
        stop(process)
        os.remove(state)
    process = start(guest, board, io, False)
    started = session_started(io, process, deadline)
    if started is None:
        stop(process)
        raise BootFailed("the guest's session did not start in time")
    if started == FAILED:
        return process, False
    qemu.save_state(monitor, state)
    stop(process)
    process = start(guest, board, io, False, state)
    if not qemu.resume(monitor, process):
        stop(process)
        raise BootFailed("QEMU did not load the state it had just saved")
    return process, True


def fail(message, io):
    sys.stderr.write("boot.py: %s (console in %s)\n" % (message, os.path.join(io, "console.log")))
    return 1


def main(guest, board, io, seconds, writable=None):
    if board not in BOARDS:
        sys.stderr.write("boot.py: unknown board '%s' (%s)\n" % (board, ", ".join(BOARDS)))
        return 2
    writable = writable == "--writable"
    deadline = time.time() + int(seconds)
    process = None
    try:
        if writable:
            process = start(guest, board, io, True)
        else:
            process, waits = start_session(guest, board, io, deadline)
            if waits:
                with qemu.connect(os.path.join(io, "go.sock"), deadline) as port:
                    port.sendall(b"go\n")
        try:
            process.wait(timeout=max(1, deadline - time.time()))
        except subprocess.TimeoutExpired:
            return fail("the guest did not power off within %s s" % seconds, io)
        if process.returncode != 0:
            return fail("qemu-system-x86_64 failed with status %d" % process.returncode, io)
        try:
            with open(os.path.join(io, "job.rc")) as f:
                return int(f.read())
        except (OSError, ValueError):
            return fail("the guest powered off without finishing its job", io)
    except (BootFailed, wine.Failure) as e:
        return fail(str(e), io)
    finally:
        if process is not None and process.poll() is None:
            stop(process)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
