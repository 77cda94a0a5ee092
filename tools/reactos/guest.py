"""The ReactOS guest from the host's side: boots the live CD under QEMU with the release CD as a
second drive, talks to the test driver qvdrive.exe over the guest's COM2, and turns what the
driver recorded into the simulator's report lines and into a scenario of the guest's machine."""

import hashlib
import json
import os
import socket
import subprocess
import time

from harness import qemu
from harness import wine

# The boards: QEMU's i440FX PC, alone or with USB host controllers, each with a device on it
# (ReactOS's USB stack makes no \\.\HCDn link for a controller with nothing attached).
BOARDS = {
    "pc": [],
    "piix3-usb-uhci": ["-device", "piix3-usb-uhci,id=uhci", "-device", "usb-tablet,bus=uhci.0"],
    "piix4-usb-uhci": ["-device", "piix4-usb-uhci,id=uhci", "-device", "usb-tablet,bus=uhci.0"],
    "two-controllers": ["-device", "piix3-usb-uhci,id=uhci", "-device", "usb-tablet,bus=uhci.0",
                        "-device", "usb-ehci,id=ehci", "-device", "usb-kbd,bus=ehci.0"],
}
# The show commands the driver can start the program with.
SHOWS = ("normal", "maximized", "minnoactive", "hide")

CR_SUCCESS = 0
CR_INVALID_DEVNODE = 5
WS_MAXIMIZE = 0x01000000
WS_MINIMIZE = 0x20000000


class NoDesktop(wine.Failure):
    """The guest never reached the desktop's driver (ReactOS's start-up can stall at times)."""


def qemu_command(livecd, board, folder):
    """The guest's QEMU, its second CD drive empty: the release CD goes in once the desktop is
    up, so that the machine's state at that moment is the same for every release."""
    return (["qemu-system-i386", "-M", "pc"] + qemu.accelerator("max") +
            ["-m", "1024", "-vga", "std", "-display", "none", "-no-reboot", "-nic", "none",
            "-drive", "file=%s,media=cdrom,if=ide,index=2,readonly=on" % livecd,
            "-drive", "media=cdrom,if=ide,index=3",
            "-boot", "d",
            "-serial", "file:%s" % os.path.join(folder, "com1.log"),
            "-serial", "unix:%s,server=on,wait=off" % os.path.join(folder, "com2.sock"),
            "-monitor", "unix:%s,server=on,wait=off" % os.path.join(folder, "monitor.sock")]
            + BOARDS[board])


# The second CD drive, as QEMU names the drive at IDE index 3.
RELEASE_DRIVE = "ide1-cd1"


def saved_state(livecd, board):
    """Where the machine's state at the driver's greeting is kept for this live CD, board and
    QEMU: ReactOS's start-up is most of a boot's minute under software emulation, and the same
    every time."""
    cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    digest = hashlib.sha256()
    with open(livecd, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return qemu.state_path(os.path.join(cache, "qorvalin", "reactos", "states"), board,
                           qemu_command("", board, ""), digest.hexdigest())


def monitor(folder, command):
    return qemu.monitor(os.path.join(folder, "monitor.sock"), command)


def save_state(folder, path):
    qemu.save_state(os.path.join(folder, "monitor.sock"), path)


def screenshot(folder, png):
    ppm = os.path.join(folder, "screen.ppm")
    monitor(folder, "screendump " + ppm)
    subprocess.run(["convert", ppm, png], check=True)


def answer(port, line):
    """Sends line to the driver a few bytes at a time: the guest's serial driver loses what
    comes faster than it empties the port's 16-byte buffer."""
    data = (line + "\r\n").encode()
    for at in range(0, len(data), 8):
        port.sendall(data[at:at + 8])
        time.sleep(0.05)


def start_qemu(livecd, board, folder, state=None):
    """QEMU started afresh, or from a saved state; and the guest's COM2."""
    for name in ("com2.sock", "monitor.sock"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    command = qemu_command(livecd, board, folder)
    if state is not None:
        command += qemu.incoming(state)
    with open(os.path.join(folder, "qemu.log"), "a") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT)
    port = qemu.connect(os.path.join(folder, "com2.sock"), time.time() + 30)
    port.settimeout(1)
    if state is not None and not qemu.resume(os.path.join(folder, "monitor.sock"), process):
        stop_qemu(process, port)
        os.remove(state)
        raise NoDesktop("QEMU did not load the saved state %s (log in %s)" % (state, folder))
    return process, port


def stop_qemu(process, port):
    port.close()
    process.kill()
    process.wait()


def boot(livecd, release, board, runs, folder, seconds=600, png=None):
    """One boot: returns the driver's record lines (as text, still escaped) and the seconds
    from QEMU's start to the desktop's first word from the driver and to its last. The first
    boot of a live CD on a board saves the machine at that first word; later boots start
    there."""
    os.makedirs(folder, exist_ok=True)
    for name in ("com1.log", "qemu.log"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    state = saved_state(livecd, board)
    resumed = os.path.isfile(state)
    started = time.time()
    deadline = started + seconds
    process, port = start_qemu(livecd, board, folder, state if resumed else None)
    lines, timings, buffer = [], {}, b""
    try:
        while time.time() < deadline:
            if process.poll() is not None:
                raise wine.Failure("QEMU ended with status %d (log in %s)"
                                   % (process.returncode, folder))
            try:
                chunk = port.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                raise wine.Failure("the guest's COM2 closed")
            buffer += chunk
            while b"\n" in buffer:
                raw, buffer = buffer.split(b"\n", 1)
                line = raw.rstrip(b"\r").decode("latin-1")
                if line == "qvdrive\thello" and not resumed:
                    # From here on every boot of this live CD on this board is the same.
                    save_state(folder, state)
                    stop_qemu(process, port)
                    timings["saved"] = time.time() - started
                    process, port = start_qemu(livecd, board, folder, state)
                    resumed = True
                    buffer = b""
                    break
                lines.append(line)
                if line == "qvdrive\thello":
                    if "hello" not in timings:
                        timings["hello"] = time.time() - started
                        monitor(folder, "change %s %s raw read-only" % (RELEASE_DRIVE, release))
                    # With its length: bytes to the guest can go missing.
                    listed = ",".join(runs)
                    answer(port, "runs\t%s\t%d" % (listed, len(listed)))
                elif line.startswith("pause\t"):
                    # The driver repeats a request until it hears the answer.
                    if png is not None and line == "pause\tdetails" and "shot" not in timings:
                        screenshot(folder, png)
                        timings["shot"] = time.time() - started
                    answer(port, "go")
                elif line == "qvdrive\tdone":
                    timings["done"] = time.time() - started
                    return lines, timings
        if "hello" not in timings and resumed:
            # A state the guest does not wake from is of no use to the next boot either.
            os.remove(state)
        failure = NoDesktop if "hello" not in timings else wine.Failure
        raise failure("the guest did not finish within %d s (%d lines from the driver; "
                      "logs in %s)" % (seconds, len(lines), folder))
    finally:
        with open(os.path.join(folder, "records.txt"), "w", encoding="latin-1") as f:
            f.write("\n".join(lines) + "\n")
        stop_qemu(process, port)


def fields(rest):
    return dict(f.split("=", 1) for f in rest.split("\t") if "=" in f)


def parse(lines):
    """The driver's records: the guest's answers and each run with its window snapshots."""
    guest = {"registry": {}, "hcd": [], "nodes": [], "runs": [], "cfgmgr": None,
             "version": None, "exe": None}
    run = None
    snapshot = None
    for line in lines:
        kind, _, rest = line.partition("\t")
        if snapshot is not None:
            if line == "end":
                run["snapshots"][stage] = wine.parse_snapshot("\n".join(snapshot))
                snapshot = None
            else:
                snapshot.append(line)
            continue
        f = fields(rest)
        if kind == "version":
            guest["version"] = None if "failed" in f else {
                "major": int(f["major"], 0), "minor": int(f["minor"], 0),
                "build": int(f["build"], 0), "platform": int(f["platform"], 0),
                "csd": wine.unescape(f["csd"])}
        elif kind == "registry":
            guest["registry"][f["member"]] = f
        elif kind == "hcd":
            guest["hcd"].append(f)
        elif kind == "cfgmgr":
            guest["cfgmgr"] = dict(guest["cfgmgr"] or {}, **(f or {"cut": "1"}))
        elif kind == "node":
            guest["nodes"].append(f)
        elif kind == "exe":
            guest["exe"] = f.get("path")
        elif kind == "run":
            run = {"show": f["show"], "snapshots": {}, "notes": [], "exit": None}
            guest["runs"].append(run)
        elif kind == "snapshot":
            stage, snapshot = rest, []
        elif kind == "note" and run is not None:
            run["notes"].append(rest)
        elif kind == "exit" and run is not None:
            run["exit"] = int(f["code"], 0)
    return guest


def main_window(windows):
    """The program's main window: the one holding the Details list."""
    for w in windows:
        if any(c.id == wine.IDC_DETAILS_LIST and c.parent == w.hwnd for c in w.controls):
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
    label = main.control(wine.IDC_DETAILS_LABEL)
    size = "compact" if main.rect.bottom == label.rect.top else "%dx%d" % (main.rect.width,
                                                                           main.rect.height)
    focus = {wine.IDC_CLOSE: "close", wine.IDC_ABOUT: "about", wine.IDC_DETAILS: "details"}.get(
        main.focused_id(), "none")
    return "%s %s %s focus=%s" % ("visible" if main.visible else "hidden", state, size, focus)


def report(run):
    """The report lines read from a run's windows, in the simulator's format and escaping."""
    verdict = run["snapshots"].get("verdict", [])
    detailed = run["snapshots"].get("details") or verdict
    main, full = main_window(verdict), main_window(detailed)
    lines = []
    if main is not None and full is not None:
        lines.append("headline: " + main.control(wine.IDC_HEADLINE).raw_text)
        lines.append("panel: " + main.control(wine.IDC_MORE_INFO).raw_text)
        lines += ["detail: " + item for item in full.control(wine.IDC_DETAILS_LIST).raw_items]
    lines.append("shown: " + shown(verdict))
    lines.append("exit: %s" % run["exit"])
    return lines


def text(hexbytes):
    """A property's bytes as the scenario's text: up to the terminator, code page 1252."""
    return bytes.fromhex(hexbytes).split(b"\0")[0].decode("cp1252", "replace")


def scenario(guest):
    """The scenario of the machine the guest presented to the driver. Its user mode may not
    touch the ports, so port access is denied; the PCI functions then do not matter."""
    s = {"ports": "denied", "registry": {}}
    if guest["version"] is not None:
        s["version"] = dict(guest["version"])
    for member, f in guest["registry"].items():
        if f["status"] == "ok":
            s["registry"][member] = {"bytes": f["bytes"]}
        elif f["status"] == "novalue":
            s["registry"][member] = None
    s["hcd"] = [{"index": int(f["index"]),
                 "driverKey": {"bytes": f["bytes"]} if f.get("request") == "1" else None}
                for f in guest["hcd"] if f.get("open") == "1"]
    cm = guest["cfgmgr"]
    if cm is not None and (cm.get("loaded") == "1" or "missing" in cm):
        s["cfgmgr"] = {}
        if "missing" in cm:
            s["cfgmgr"]["missing"] = [cm["missing"]]
        elif int(cm.get("locate", "1"), 0) != CR_SUCCESS:
            s["cfgmgr"]["root"] = False
        nodes = {}
        for f in guest["nodes"]:
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


def simulate(sim, guest, folder):
    """qorvalin-sim's report for the guest's scenario: the lines comparable with report(run),
    and the verdict."""
    state = {"sim": sim, "work": folder}
    expected = wine.simulate(state, scenario(guest))
    return (["headline: " + expected["headline"], "panel: " + expected["panel"]] +
            ["detail: " + d for d in expected["detail"]]), expected["verdict"]


def write_scenario(guest, path):
    with open(path, "w") as f:
        json.dump(scenario(guest), f, indent=2)
        f.write("\n")
