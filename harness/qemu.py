"""QEMU from the host's side: its accelerator, its machine protocol (QMP), saved guest states."""

import hashlib
import json
import os
import shlex
import socket
import subprocess
import time

from harness import Failure


def accelerator(cpu):
    """Software emulation of the CPU model given unless the host really has hardware
    virtualisation: /dev/kvm may be served without it (no vmx or svm flag), where an ordinary
    kernel crawls."""
    with open("/proc/cpuinfo") as f:
        words = f.read().split()
    if ("vmx" in words or "svm" in words) and os.access("/dev/kvm", os.W_OK):
        return ["-accel", "kvm", "-cpu", "host"]
    return ["-accel", "tcg", "-cpu", cpu]


def connect(path, deadline, process=None):
    """A connection to the unix socket that QEMU (process, if given) serves at path, once it is
    there."""
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.time() > deadline or (process is not None and process.poll() is not None):
                raise Failure("QEMU never opened %s" % path) from None
            time.sleep(0.2)


class Monitor:
    """QEMU's machine protocol on its unix socket: one JSON object a line each way."""

    def __init__(self, path, process=None, seconds=30):
        self.socket = connect(path, time.time() + seconds, process)
        self.socket.settimeout(seconds)
        self.lines = self.socket.makefile("rb")
        self.answer()  # the greeting
        self.execute("qmp_capabilities")

    def answer(self):
        """The next message that is not an event."""
        while True:
            line = self.lines.readline()
            if not line:
                raise Failure("QEMU closed its monitor")
            message = json.loads(line)
            if "event" not in message:
                return message

    def execute(self, command, **arguments):
        """What QEMU returns for the command; a Failure with its error if it refused it."""
        self.socket.sendall(json.dumps({"execute": command, "arguments": arguments}).encode()
                            + b"\n")
        message = self.answer()
        if "error" in message:
            raise Failure("QEMU refused %s: %s" % (command, message["error"]["desc"]))
        return message["return"]

    def close(self):
        self.lines.close()
        self.socket.close()


def state_path(folder, board, command, *inputs):
    """Where the state of a guest on the board is kept in folder: named by the board and a hash
    of what else makes it (inputs), the version of QEMU and its command (command[0] the QEMU)."""
    version = subprocess.run([command[0], "--version"], stdout=subprocess.PIPE,
                             check=True).stdout.decode("latin-1")
    made = json.dumps(list(inputs) + [version, command])
    return os.path.join(folder, "%s-%s" % (
        board, hashlib.sha256(made.encode("latin-1")).hexdigest()[:16]))


def save_state(monitor, path):
    """Stops the guest and writes its state to path, the one state of its board in its folder (a
    few hundred megabytes each): those of other QEMUs or options are of no further use."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    monitor.execute("stop")
    monitor.execute("migrate", uri="exec:cat > %s" % shlex.quote(path + ".new"))
    deadline = time.time() + 300
    while True:
        status = monitor.execute("query-migrate").get("status")
        if status == "completed":
            break
        if status in ("failed", "cancelled") or time.time() > deadline:
            raise Failure("QEMU did not save the guest's state (migration %s)" % status)
        time.sleep(0.2)
    os.replace(path + ".new", path)
    folder, name = os.path.split(path)
    board = name.rsplit("-", 1)[0]
    for other in os.listdir(folder):
        if other != name and other.rsplit("-", 1)[0] == board:
            os.remove(os.path.join(folder, other))


def incoming(path):
    """The options that start QEMU from the state in path (it wakes stopped: see resume)."""
    return ["-incoming", "exec:cat %s" % shlex.quote(path)]


def resume(monitor, process, seconds=120):
    """Waits until QEMU has loaded the state it was started from, and lets the guest run on;
    False when it did not load it (QEMU refuses a damaged state and ends)."""
    deadline = time.time() + seconds
    try:
        while time.time() < deadline and process.poll() is None:
            if monitor.execute("query-status")["status"] == "paused":
                monitor.execute("cont")
                return True
            time.sleep(0.2)
    except (Failure, OSError):
        pass  # QEMU ended while loading
    return False
