"""The ReactOS guest: a live CD whose test driver (tests/programs/qvdrive.c) runs the program."""

import hashlib
import json
import os
import shutil
import subprocess
import time

from harness import Failure, Unavailable, build, catalogue, guest, qemu, sim, window

ROOT = build.ROOT
# The show commands the driver can start the program with.
SHOWS = ("normal", "maximized", "minnoactive", "hide")
# The second CD drive, as QEMU names the drive at IDE index 3: the release CD goes in there.
RELEASE_DRIVE = "ide1-cd1"

CR_SUCCESS = 0
CR_INVALID_DEVNODE = 5
WS_MAXIMIZE = 0x01000000
WS_MINIMIZE = 0x20000000


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
        subprocess.run(["bash", ROOT / "tools" / "dist.sh", folder, exe], check=True,
                       stdout=subprocess.DEVNULL)
        self.release = next(os.path.join(folder, n) for n in os.listdir(folder)
                            if n.endswith(".iso"))

    def image(self):
        if self.livecd is not None:
            return self.livecd
        if shutil.which("qemu-system-i386") is None:
            raise Unavailable("qemu-system-i386 is not installed")
        driver = str(build.path("qorvalin_qvdrive_i686"))
        tools = ROOT / "tools" / "reactos"
        if self.iso:
            command = ["bash", tools / "ready_iso.sh", self.iso, driver]
        else:
            command = ["bash", tools / "livecd.sh", self.tree or "--last", driver]
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


def fields(rest):
    return dict(f.split("=", 1) for f in rest.split("\t") if "=" in f)


def parse(lines):
    """The driver's records: the guest's answers and each run with its window snapshots."""
    found = {"registry": {}, "hcd": [], "nodes": [], "runs": [], "cfgmgr": None,
             "version": None, "exe": None}
    run = snapshot = stage = None
    for line in lines:
        kind, _, rest = line.partition("\t")
        if snapshot is not None:
            if line == "end":
                run["snapshots"][stage] = window.parse_snapshot("\n".join(snapshot))
                snapshot = None
            else:
                snapshot.append(line)
            continue
        f = fields(rest)
        if kind == "version":
            found["version"] = None if "failed" in f else {
                "major": int(f["major"], 0), "minor": int(f["minor"], 0),
                "build": int(f["build"], 0), "platform": int(f["platform"], 0),
                "csd": window.unescape(f["csd"])}
        elif kind == "registry":
            found["registry"][f["member"]] = f
        elif kind == "hcd":
            found["hcd"].append(f)
        elif kind == "cfgmgr":
            found["cfgmgr"] = dict(found["cfgmgr"] or {}, **(f or {"cut": "1"}))
        elif kind == "node":
            found["nodes"].append(f)
        elif kind == "exe":
            found["exe"] = f.get("path")
        elif kind == "run":
            run = {"show": f["show"], "snapshots": {}, "notes": [], "exit": None}
            found["runs"].append(run)
        elif kind == "snapshot":
            stage, snapshot = rest, []
        elif kind == "note" and run is not None:
            run["notes"].append(rest)
        elif kind == "exit" and run is not None:
            run["exit"] = int(f["code"], 0)
    return found


def main_window(windows):
    """The program's main window: the one holding the Details list."""
    for w in windows:
        if any(c.id == catalogue.IDC_DETAILS_LIST and c.parent == w.hwnd for c in w.controls):
            return w
    return None


def shown(windows):
    """How the main window first appeared: visible or not, its state, its size (compact: cut
    off at the Details label, as the program shrinks it) and the focused control."""
    main = main_window(windows)
    if main is None:
        return "no main window"
    state = ("minimized" if main.style & WS_MINIMIZE else
             "maximized" if main.style & WS_MAXIMIZE else "normal")
    label = main.control(catalogue.IDC_DETAILS_LABEL)
    size = "compact" if main.rect.bottom == label.rect.top else "%dx%d" % (main.rect.width,
                                                                           main.rect.height)
    focus = {catalogue.IDC_CLOSE: "close", catalogue.IDC_ABOUT: "about",
             catalogue.IDC_DETAILS: "details"}.get(main.focused_id(), "none")
    return "%s %s %s focus=%s" % ("visible" if main.visible else "hidden", state, size, focus)


def report(run):
    """The report lines read from a run's windows, in the simulator's format and escaping."""
    verdict = run["snapshots"].get("verdict", [])
    detailed = run["snapshots"].get("details") or verdict
    main, full = main_window(verdict), main_window(detailed)
    lines = []
    if main is not None and full is not None:
        lines.append("headline: " + main.control(catalogue.IDC_HEADLINE).raw_text)
        lines.append("panel: " + main.control(catalogue.IDC_MORE_INFO).raw_text)
        lines += ["detail: " + item for item in full.control(catalogue.IDC_DETAILS_LIST).raw_items]
    lines.append("shown: " + shown(verdict))
    lines.append("exit: %s" % run["exit"])
    return lines


def text(hexbytes):
    """A property's bytes as the scenario's text: up to the terminator, code page 1252."""
    return bytes.fromhex(hexbytes).split(b"\0")[0].decode("cp1252", "replace")


def scenario(found):
    """The scenario of the machine the guest presented to the driver. Its user mode may not
    touch the ports, so port access is denied; the PCI functions then do not matter."""
    s = {"ports": "denied", "registry": {}}
    if found["version"] is not None:
        s["version"] = dict(found["version"])
    for member, f in found["registry"].items():
        if f["status"] == "ok":
            s["registry"][member] = {"bytes": f["bytes"]}
        elif f["status"] == "novalue":
            s["registry"][member] = None
    s["hcd"] = [{"index": int(f["index"]),
                 "driverKey": {"bytes": f["bytes"]} if f.get("request") == "1" else None}
                for f in found["hcd"] if f.get("open") == "1"]
    cm = found["cfgmgr"]
    if cm is not None and (cm.get("loaded") == "1" or "missing" in cm):
        s["cfgmgr"] = {}
        if "missing" in cm:
            s["cfgmgr"]["missing"] = [cm["missing"]]
        elif int(cm.get("locate", "1"), 0) != CR_SUCCESS:
            s["cfgmgr"]["root"] = False
        nodes = {}
        for f in found["nodes"]:
            node = {}
            codes = [int(f[k], 0) for k in ("parentcr", "childcr", "siblingcr", "driver",
                                             "hardwareid", "description")]
            if all(code == CR_INVALID_DEVNODE for code in codes):
                node["invalid"] = True
            else:
                if int(f["driver"], 0) == CR_SUCCESS:
                    node["driver"] = text(f["driverbytes"])
                if int(f["hardwareid"], 0) == CR_SUCCESS:
                    # A list of texts, each ended by a NUL, the list by another (which
                    # ReactOS leaves out).
                    ids = bytes.fromhex(f["hardwareidbytes"]).split(b"\0\0")[0].rstrip(b"\0")
                    node["hardwareId"] = [i.decode("cp1252", "replace") for i in ids.split(b"\0")]
                if int(f["description"], 0) == CR_SUCCESS:
                    node["description"] = text(f["descriptionbytes"])
            nodes[f["handle"]] = node
            parent = nodes.get(f["parent"])
            if parent is None:
                s["cfgmgr"]["tree"] = node
            else:
                parent.setdefault("children", []).append(node)
    return s


def simulate(found, folder):
    """qorvalin-sim's report for the guest's scenario: the lines comparable with report(run),
    and the verdict."""
    expected = sim.simulate(build.path("sim"), scenario(found), folder)
    return (["headline: " + expected["headline"], "panel: " + expected["panel"]] +
            ["detail: " + d for d in expected["detail"]]), expected["verdict"]


def write_scenario(found, path):
    with open(path, "w") as f:
        json.dump(scenario(found), f, indent=2)
        f.write("\n")
