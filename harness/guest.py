"""The guests' interface (Guest) and what both share: a boot from the board's saved state, the
channel between host and guest and the one format both guests report in, the retry policy and
the cache."""

import os
import socket
import subprocess
import sys
import time
from pathlib import Path

from harness import Failure, boards, qemu, window

# The one cache root of the guests' images and saved states (QORVALIN_CACHE), shared by every
# clone on the machine.
CACHE = Path(os.environ.get("QORVALIN_CACHE") or
             Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "qorvalin")
# A boot that is lost (Lost) says nothing of the program; it is made again, this many in all.
BOOTS = 3


class Lost(Failure):
    """A boot that says nothing of the program: the guest never reached the line where its
    state is saved, woke from no state, or lost what the host said on the channel."""


class Guest:
    """A kind of guest, set up for one use. Each boot talks over one channel, the guest's
    second serial port: a line a message each way. A guest's start-up, the same in every boot on
    a board, ends with its ready line; the first boot on a board saves the machine there, and
    later boots start from that state."""

    name = None        # its key in harness/boards.json
    ready = None       # the line that ends its start-up
    unready = None     # the line that says its start-up failed: the guest goes on to say why
    go = None          # what the host says when the guest wakes from its state, if anything
    pace = None        # (bytes, seconds): no more than that many bytes a time, that far apart
    powers_off = False  # whether the guest ends its QEMU itself once done

    def image(self):
        """What to boot, built or found once and cached; Unavailable where it cannot be had."""
        raise NotImplementedError

    def qemu(self, image, board, folder):
        """QEMU's command for the board, with nothing of its serial ports, monitor or state."""
        raise NotImplementedError

    def states(self, image):
        """The folder of the saved states of this image, and what besides QEMU's command makes
        one (hashed into its name)."""
        raise NotImplementedError

    def hear(self, machine, line):
        """Takes a line the guest said after its start-up; true once the guest is done."""
        raise NotImplementedError

    def lost(self, heard):
        """Why a finished boot says nothing of the program after all, or nothing."""
        return ""


class Machine:
    """One boot's QEMU: its process, its monitor (QMP) and the channel, its files in folder;
    what the guest said after its start-up (heard), and when things happened (times, seconds
    after the start)."""

    def __init__(self, guest, command, folder, deadline):
        self.guest, self.command, self.folder, self.deadline = guest, command, folder, deadline
        self.process = self.monitor = self.channel = None
        self.heard = []
        self.times = {"started": time.time()}

    def start(self, state=None):
        """Starts QEMU, from state if given; False when it could not load that state."""
        for name in ("channel.sock", "monitor.sock"):
            if os.path.exists(os.path.join(self.folder, name)):
                os.remove(os.path.join(self.folder, name))
        command = self.command + [
            "-serial", "file:%s" % os.path.join(self.folder, "console.log"),
            "-serial", "unix:%s,server=on,wait=off" % os.path.join(self.folder, "channel.sock"),
            "-qmp", "unix:%s,server=on,wait=off" % os.path.join(self.folder, "monitor.sock")]
        with open(os.path.join(self.folder, "qemu.log"), "a") as log:
            self.process = subprocess.Popen(command + (qemu.incoming(state) if state else []),
                                            stdin=subprocess.DEVNULL, stdout=log,
                                            stderr=subprocess.STDOUT)
        try:
            self.channel = qemu.connect(os.path.join(self.folder, "channel.sock"),
                                        self.deadline, self.process)
            self.channel.settimeout(1)
            self.monitor = qemu.Monitor(os.path.join(self.folder, "monitor.sock"), self.process)
        except Failure:
            if state is None:
                raise
            self.stop()  # QEMU ended: it refused the state
            return False
        if state is None:
            return True
        if not qemu.resume(self.monitor, self.process):
            self.stop()
            return False
        if self.guest.go is not None:
            self.say(self.guest.go)
        return True

    def stop(self, seconds=0):
        """Ends QEMU, after waiting seconds for it to end by itself."""
        for part in (self.channel, self.monitor):
            if part is not None:
                part.close()
        self.channel = self.monitor = None
        try:
            self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def say(self, line):
        data = (line + "\r\n").encode("latin-1")
        step, pause = self.guest.pace or (len(data), 0)
        for at in range(0, len(data), step):
            try:
                self.channel.sendall(data[at:at + step])
            except socket.timeout:
                # The guest's port took nothing more: the boot can say nothing of the program.
                raise Lost("the guest took no more of the host's %r" % line) from None
            time.sleep(pause)

    def lines(self):
        """What the guest says, a line at a time, until the deadline."""
        buffer = b""
        while time.time() < self.deadline:
            if self.process.poll() is not None:
                raise Failure("QEMU ended with status %d (its log in %s)"
                              % (self.process.returncode, self.folder))
            try:
                chunk = self.channel.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                raise Failure("the guest's channel closed")
            buffer += chunk
            while b"\n" in buffer:
                raw, buffer = buffer.split(b"\n", 1)
                yield raw.rstrip(b"\r").decode("latin-1")


def boot(guest, board, folder, seconds, saved=True):
    """One boot of the guest on the board, its files in folder, until the guest is done: its
    Machine. Starts from the board's saved state, made first where there is none (unless saved
    is false: a boot that changes the image)."""
    image = guest.image()
    os.makedirs(folder, exist_ok=True)
    for name in ("console.log", "qemu.log"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    states, inputs = guest.states(image)
    state = qemu.state_path(states, board, guest.qemu(image, board, "") +
                            boards.qemu_options(board), *inputs)
    machine = Machine(guest, guest.qemu(image, board, folder) + boards.qemu_options(board),
                      folder, time.time() + seconds)
    woke = saved and os.path.isfile(state) and machine.start(state)
    if saved and not woke and os.path.isfile(state):
        # A state QEMU cannot load is of no use to later boots either.
        os.remove(state)
    if not woke:
        machine.start()
    started = woke or not saved
    heard = machine.heard
    try:
        for line in machine.lines():
            if not started and line == guest.ready:
                qemu.save_state(machine.monitor, state)
                machine.stop()
                if not machine.start(state):
                    raise Failure("QEMU did not load the state it had just saved")
                started = True
                machine.times["saved"] = time.time() - machine.times["started"]
                continue
            started = started or line == guest.unready
            heard.append(line)
            if started and guest.hear(machine, line):
                machine.stop(30 if guest.powers_off else 0)
                return machine
        if woke and not heard:
            os.remove(state)
        if not started or not heard:
            raise Lost("the guest %s within %d s (console in %s)" % (
                "never woke from its saved state" if woke else "did not start", seconds, folder))
        raise Failure("the guest did not finish within %d s (%d lines; its files in %s)"
                      % (seconds, len(heard), folder))
    finally:
        with open(os.path.join(folder, "channel.txt"), "w", encoding="latin-1") as f:
            f.write("".join(line + "\n" for line in heard))
        if machine.process.poll() is None:
            machine.stop()


def run(guest, board, folder, seconds):
    """boot, made again while it is lost (Lost, or what the guest said shows it), BOOTS in
    all."""
    for attempt in range(1, BOOTS + 1):
        try:
            machine = boot(guest, board, folder, seconds)
            why = guest.lost(machine.heard)
            if not why:
                return machine
            if attempt == BOOTS:
                raise Lost(why)
        except Lost as e:
            if attempt == BOOTS:
                raise
            why = str(e)
        # Beside what the guest says, not in it: the guests' command prints its report on
        # standard output, which scripts read.
        print("booting again: %s" % why, file=sys.stderr, flush=True)


def parse(lines):
    """What a guest said of its runs, in the one format both guests report in (written by
    tests/programs/qvdrive.c on ReactOS and guest/debian/job.py; qvdrive.c's head lists the
    kinds): each line KIND TAB TEXT. A "run" record opens a run, and what follows is the run's:
    its window snapshots ("snapshot STAGE", the window reader's lines of the program's windows,
    then "end"), its notes, its exit code ("exit code=N"), QVDUMP's exit ("qvdump") and the
    lines of its recording ("scenario"). What comes before the first run is the boot's. Every
    other kind is kept by its name, with its last text."""
    boot = scope = {"runs": [], "recording": [], "notes": []}
    snapshot = stage = None
    for line in lines:
        if snapshot is not None:
            if line == "end":
                scope["snapshots"][stage] = window.parse_snapshot("\n".join(snapshot))
                snapshot = None
            else:
                snapshot.append(line)
            continue
        kind, _, rest = line.partition("\t")
        fields = dict(f.split("=", 1) for f in rest.split("\t") if "=" in f)
        if kind == "run":
            scope = dict(fields, snapshots={}, notes=[], recording=[], exit=None)
            boot["runs"].append(scope)
        elif kind == "snapshot":
            stage, snapshot = rest, []
        elif kind in ("scenario", "note"):
            scope["recording" if kind == "scenario" else "notes"].append(
                window.unescape(rest) if kind == "scenario" else rest)
        elif kind == "exit":
            scope["exit"] = int(fields["code"], 0) if "code" in fields else None
        else:
            scope[kind] = rest
    return boot


def recording(said):
    """The scenario QVDUMP.EXE recorded, as the boot's or a run's records say it, as a text with
    LF line ends."""
    if said.get("qvdump") != "exit=0" or not said["recording"]:
        raise Failure("QVDUMP.EXE recorded nothing in the guest (%s)" % said.get("qvdump"))
    return "\n".join(said["recording"]) + "\n"
