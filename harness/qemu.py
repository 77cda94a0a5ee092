"""QEMU from the host's side, for the test guests: the accelerator to use, the monitor, and a
guest's state saved to a file, from which later boots start."""

import hashlib
import json
import os
import shlex
import socket
import subprocess
import time

from harness import wine


def accelerator(cpu):
    """Software emulation of the CPU model given unless the host really has hardware
    virtualisation: /dev/kvm may be served without it (no vmx or svm flag), where an ordinary
    kernel crawls."""
    with open("/proc/cpuinfo") as f:
        words = f.read().split()
    if ("vmx" in words or "svm" in words) and os.access("/dev/kvm", os.W_OK):
        return ["-accel", "kvm", "-cpu", "host"]
    return ["-accel", "tcg", "-cpu", cpu]


def connect(path, deadline):
    while True:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.time() > deadline:
                raise wine.Failure("QEMU never opened %s" % path)
            time.sleep(0.2)


def monitor(socket_path, command, seconds=30):
    """QEMU's answer to a monitor command."""
    prompt = b"(qemu) "
    with connect(socket_path, time.time() + seconds) as s:
        s.settimeout(seconds)
        said = b""
        for request in (None, command):
            if request is not None:
                s.sendall((request + "\n").encode())
            said = b""
            while not said.endswith(prompt):
                chunk = s.recv(65536)
                if not chunk:
                    raise wine.Failure("QEMU's monitor closed after %r" % command)
                said += chunk
    return said[:-len(prompt)].decode("latin-1")


def state_path(folder, board, command, *inputs):
    """Where the state of a guest on the board is kept in folder: named by the board and a hash
    of what else makes it (inputs), the version of QEMU and its command (command[0] the QEMU)."""
    version = subprocess.run([command[0], "--version"], stdout=subprocess.PIPE,
                             check=True).stdout.decode("latin-1")
    made = json.dumps(list(inputs) + [version, command])
    return os.path.join(folder, "%s-%s" % (
        board, hashlib.sha256(made.encode("latin-1")).hexdigest()[:16]))


def save_state(socket_path, path):
    """Stops the guest and writes its state to path, the one state of its board in its folder (a
    few hundred megabytes each): those of other QEMUs or options are of no further use."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    monitor(socket_path, "stop")
    monitor(socket_path, 'migrate "exec:cat > %s"' % shlex.quote(path + ".new"))
    deadline = time.time() + 300
    while True:
        status = monitor(socket_path, "info migrate")
        if "Migration status: completed" in status:
            break
        if "Migration status: failed" in status or time.time() > deadline:
            raise wine.Failure("QEMU did not save the guest's state: %s" % status)
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


def resume(socket_path, process, seconds=120):
    """Waits until QEMU has loaded the state it was started from, and lets the guest run on;
    False when it did not load it (QEMU refuses a damaged state and ends)."""
    deadline = time.time() + seconds
    while time.time() < deadline and process.poll() is None:
        try:
            if "VM status: paused\r\n" in monitor(socket_path, "info status", 5):
                monitor(socket_path, "cont")
                return True
        except wine.Failure:
            pass  # its monitor not open yet, or QEMU ended while loading
        time.sleep(0.2)
    return False
