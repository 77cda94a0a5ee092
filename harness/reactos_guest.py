"""The ReactOS guest: a live CD whose test driver (tests/programs/qvdrive.c) has QVDUMP.EXE
record the machine and runs the program, both from the release CD."""

import hashlib
import os
import shutil
import subprocess
import time

from harness import Failure, Unavailable, build, guest, qemu, scripts, sim

# The show commands the driver can start the program with.
SHOWS = ("normal", "maximized", "minnoactive", "hide")
# The second CD drive, as QEMU names the drive at IDE index 3: the release CD goes in there.
RELEASE_DRIVE = "ide1-cd1"


class ReactOS(guest.Guest):
    """The live CD (from iso, a ReactOS live CD made ready here, or built from tree; else the
    one built last), with the release CD (release_cd) put in once the desktop is up, so that
    the machine's state at the driver's greeting is the same for every release. The driver
    starts the program once for each of shows and records what it saw; screenshot takes a
    picture of the expanded window."""

    name = "reactos"
    ready = "qvdrive\thello"
    # The guest's serial driver loses what comes faster than it empties the port's 16-byte
    # buffer.
    pace = (8, 0.05)

    def __init__(self, shows, iso=None, tree=None, screenshot=None):
        self.shows, self.iso, self.tree, self.screenshot = shows, iso, tree, screenshot
        self.livecd = self.release = None

    def release_cd(self, exe, folder):
        """Makes the release CD of the i686 program exe in folder, as a user would get it
        (tools/dist.sh), once the live CD is there."""
        self.image()
        shutil.rmtree(folder, ignore_errors=True)
        subprocess.run(["bash", scripts.RELEASE_FILES, folder, exe], check=True,
                       stdout=subprocess.DEVNULL)
        self.release = next(os.path.join(folder, n) for n in os.listdir(folder)
                            if n.endswith(".iso"))

    def image(self):
        if self.livecd is not None:
            return self.livecd
        if shutil.which("qemu-system-i386") is None:
            raise Unavailable("qemu-system-i386 is not installed")
        driver = str(build.path("qorvalin_qvdrive_i686"))
        if self.iso:
            command = ["bash", scripts.READY_ISO, self.iso, driver]
        else:
            command = ["bash", scripts.LIVECD, self.tree or "--last", driver]
        made = subprocess.run(command, stdout=subprocess.PIPE)
        if made.returncode == 3:
            raise Unavailable("no ReactOS live CD has been built here (python3 -m tools.guest "
                              "report --guest reactos --reactos TREE builds one, about an hour)")
        if made.returncode != 0:
            raise Failure("readying the live CD failed (status %d)" % made.returncode)
        self.livecd = made.stdout.decode().strip()
        return self.livecd

    def qemu(self, image, board, folder):
        return (["qemu-system-i386"] + qemu.accelerator("max") +
                ["-m", "1024", "-vga", "std", "-display", "none", "-no-reboot", "-nic", "none",
                 "-drive", "file=%s,media=cdrom,if=ide,index=2,readonly=on" % image,
                 "-drive", "media=cdrom,if=ide,index=3", "-boot", "d"])

    def states(self, image):
        digest = hashlib.sha256()
        with open(image, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
        return guest.CACHE / "reactos" / "states", [digest.hexdigest()]

    def hear(self, machine, line):
        if line == self.ready:
            if "hello" not in machine.times:
                machine.times["hello"] = time.time() - machine.times["started"]
                machine.monitor.execute("blockdev-change-medium", device=RELEASE_DRIVE,
                                        filename=self.release, format="raw",
                                        **{"read-only-mode": "read-only"})
            # With its length: bytes to the guest can go missing.
            listed = ",".join(self.shows)
            machine.say("runs\t%s\t%d" % (listed, len(listed)))
        elif line.startswith("pause\t"):
            # The driver repeats a request until it hears the answer.
            if self.screenshot and line == "pause\tdetails" and "shot" not in machine.times:
                machine.monitor.execute("screendump", filename=os.path.abspath(self.screenshot),
                                        format="png")
                machine.times["shot"] = time.time() - machine.times["started"]
            machine.say("go")
        return line == "qvdrive\tdone"

    def lost(self, heard):
        """The driver's notes that the host's answers did not reach it: under load, ReactOS's
        serial driver can stop passing on what the host sends."""
        return "; ".join(line.split("\t", 1)[1] for line in heard if line.startswith("note\t") and
                         ("from the host" in line or "the host did not answer" in line or
                          "bytes missing" in line))


def boot(board, exe, folder, seconds, shows=("normal",), iso=None, tree=None, screenshot=None):
    """One boot of the live CD on the board (ReactOS's iso, tree and screenshot), the release
    CD of the i686 program exe made in folder: the boot's Machine and what the driver said
    (guest.parse). The driver's records stay in folder's channel.txt whatever happens."""
    os_guest = ReactOS(list(shows), iso, tree, screenshot)
    os_guest.release_cd(exe, os.path.join(folder, "dist"))
    machine = guest.run(os_guest, board, folder, seconds)
    found = guest.parse(machine.heard)
    if not found["runs"]:
        raise Failure("the driver found no QORVALIN.EXE on the guest's CD drives")
    return machine, found


def tree_identity(tree):
    """The commit a ReactOS source tree is at, or its folder's name where git cannot say."""
    said = subprocess.run(["git", "-C", str(tree), "rev-parse", "--short=12", "HEAD"],
                          capture_output=True, text=True)
    return said.stdout.strip() if said.returncode == 0 else os.path.basename(str(tree))


def write_scenario(found, path):
    """The scenario file QVDUMP.EXE wrote in the guest, as it wrote it."""
    with open(path, "w", newline="\r\n") as f:
        f.write(guest.recording(found))


def simulate(found, folder):
    """qorvalin-sim's report (sim.replay's) on the scenario QVDUMP.EXE recorded in the guest."""
    path = os.path.join(folder, "recording.txt")
    write_scenario(found, path)
    return sim.replay(build.path("sim"), path)
