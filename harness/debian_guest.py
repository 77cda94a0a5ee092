"""The Debian guest: the i686 program under 32-bit Wine, run by its job (guest/debian/job.py)."""

import json
import os
import shutil
import subprocess

from guest.debian import session as debian_session
from harness import Failure, Unavailable, boards, build, guest, qemu, scripts
from harness import window
from harness.window import QVDUMP_NAME

ROOT = build.ROOT
# What the guest's job finds by name (harness/build.py), handed in through the shared folder.
HANDED = ("sim", "qorvalin_winspy_i686", "qorvalin_test_cfgmgr_i686", "qorvalin_hcdriver_i686")
# What of the clone the job imports and reads: the harness, the job, the host controller path's
# cases, and the sources the harness reads the catalogues and the icons' colours from.
SOURCES = ("harness", "guest", "tests/e2e/test_hcpath.py", "tools/gen_catalogue.py",
           "tools/gen_art.py", "report/catalogue.txt", "report/controls.h", "dump/catalogue.txt")
# Under emulation a boot and its Wine session take 30 s, three times that on a busy host; each
# run up to 90 s more. The guest's own waits report a Wine that hangs.
BOOT_SECONDS = 240
# How the program reaches the ports: through the port-access wrapper, through Wine's emulation
# of in and out (9x modes), or not at all, that emulation off, so that the fault reaches it.
PORTS = ("granted", "emulated", "denied")
RUN_SECONDS = 90


class Debian(guest.Guest):
    """Debian bookworm with 32-bit Wine (tools/vm/image.sh). Its start-up ends in its Wine
    session (guest/debian/session.py); the host then says go, and the guest mounts the boot's
    folder as /io and runs the job.sh there, which says its results on the channel."""

    name = "debian"
    ready = debian_session.READY
    unready = debian_session.FAILED
    go = debian_session.GO.decode()
    powers_off = True

    def __init__(self, writable=False):
        self.writable = writable
        self.folder = None

    def image(self):
        if self.folder is None:
            if shutil.which("qemu-system-x86_64") is None:
                raise Unavailable("qemu-system-x86_64 is not installed")
            made = subprocess.run(["bash", scripts.GUEST_IMAGE],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            said = made.stderr.strip().splitlines() or [""]
            if made.returncode == 3:
                raise Unavailable("the test guest cannot be built here: " + said[-1])
            if made.returncode != 0:
                raise Failure("building the test guest failed (status %d):\n%s"
                              % (made.returncode, "\n".join(said[-20:])))
            self.folder = made.stdout.strip()
        return self.folder

    def qemu(self, image, board, folder):
        # One emulated CPU: under software emulation a second one makes a boot a sixth faster
        # on an idle host, and far slower beside other tests, its two CPUs waiting on each
        # other while the host runs something else. QEMU 7.2's TCG mishandles the return from
        # 32-bit system calls unless SMAP is off.
        return (["qemu-system-x86_64"] + qemu.accelerator("max,smap=off") +
                ["-smp", "1", "-m", "2048",
                 "-kernel", os.path.join(image, "vmlinuz"),
                 "-initrd", os.path.join(image, "initrd.img"),
                 "-append", "root=/dev/vda %s console=ttyS0 panic=-1 quiet "
                 "init=/sbin/qorvalin-init" % ("rw" if self.writable else "ro"),
                 "-drive", "file=%s,format=raw,if=virtio,snapshot=%s"
                 % (os.path.join(image, "disk.img"), "off" if self.writable else "on"),
                 "-virtfs", "local,path=%s,mount_tag=io,security_model=none" % folder,
                 "-display", "none", "-vga", "none", "-nic", "none", "-no-reboot"])

    def states(self, image):
        return os.path.join(image, "states"), []

    def hear(self, machine, line):
        return line.startswith("job\t")


def hand_in(folder, job, exe=None):
    """Readies the boot's folder, the guest's /io, with the job's script; for a job run from the
    clone's copy in /io/src, also the program exe and QVDUMP.EXE built beside it, the
    port-access wrapper, the harness and what the build made for it."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "job.sh"), "w") as f:
        if exe is not None:
            f.write("export LANG=C.UTF-8 QORVALIN_BUILD=/io/build\ncd /io/src\n")
        f.write(job)
    if exe is None:
        return
    shutil.copyfile(exe, os.path.join(folder, "Qorvalin.exe"))
    shutil.copyfile(os.path.join(os.path.dirname(exe), QVDUMP_NAME),
                    os.path.join(folder, QVDUMP_NAME))
    subprocess.run(["cc", "-O2", "-static", "-o", os.path.join(folder, "ports"),
                    scripts.PORT_ACCESS], check=True)
    for source in SOURCES:
        copy = os.path.join(folder, "src", source)
        if os.path.isdir(ROOT / source):
            shutil.copytree(ROOT / source, copy, ignore=shutil.ignore_patterns("__pycache__"))
        else:
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copyfile(ROOT / source, copy)
    handed = {}
    os.makedirs(os.path.join(folder, "build"))
    for name in HANDED:
        path = build.path(name)
        shutil.copy(path, os.path.join(folder, "build", path.name))
        handed[name] = "/io/build/" + path.name
    with open(os.path.join(folder, "build", "harness.json"), "w") as f:
        json.dump(handed, f)


def plan(board):
    """The runs of the board's boot (harness/boards.json): "MODE [PORTS]", a report of the
    program in Wine's mode, or "hcpath.CASE [PORTS]", a case of tests/e2e/test_hcpath.py."""
    items = []
    for run in boards.BOARDS[board]["debian"]["runs"]:
        name, _, ports = run.partition(" ")
        ports = ports or "granted"
        if name.startswith("hcpath."):
            items.append({"name": name, "case": name[len("hcpath."):], "ports": ports})
        else:
            items.append({"name": "%s-%s" % (name, ports), "windows": name, "ports": ports})
    return items


def run_plan(board, items, exe, folder):
    """One boot on the board that runs the plan's items: what the guest said (guest.parse),
    with its bus 0 PCI functions ("pci") and timings decoded, each item's run by its name
    ("runs"), and the boot's times."""
    hand_in(folder, "exec python3 -B -m guest.debian.job /io\n", exe)
    with open(os.path.join(folder, "plan.json"), "w") as f:
        json.dump(items, f, indent=1)
    machine = guest.run(Debian(), board, folder, BOOT_SECONDS + RUN_SECONDS * len(items))
    if machine.heard[-1] != "job\tdone\t0":
        raise Failure("the guest's job ended so: %r (its log in %s)"
                      % (machine.heard[-1], os.path.join(folder, "job.log")))
    said = guest.parse(machine.heard)
    for kind in ("pci", "timings"):
        said[kind] = json.loads(said.get(kind, "null"))
    for run in said["runs"]:
        for kind in ("version", "registry"):
            if kind in run:
                run[kind] = json.loads(run[kind])
        if "error" in run:
            run["error"] = window.unescape(run["error"])
    said["runs"] = {run["name"]: run for run in said["runs"]}
    said["times"] = machine.times
    return said
