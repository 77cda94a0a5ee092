"""The host controller path under Wine: the test driver and the stand-in CfgMgr32.dll behind the
program, the tree file the stand-in reads, and what Wine's loader and the stand-in's call log
say of a run (the machines run on them are in tests/e2e/test_hcpath.py)."""

import contextlib
import os
import shutil
import time
from pathlib import Path

from harness import Failure, check, check_equal
from harness.catalogue import IDC_STATUS_ICON
from harness.window import FRAME_COLOURS

SERVICE = "hcdtest"
SERVICE_KEY = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services" + "\\" + SERVICE
PARAMETERS_KEY = SERVICE_KEY + r"\Parameters"
HCD_COUNT = 10  # the driver's devices: HCD0 to HCD9
DRIVER_PATH = r"C:\windows\system32\drivers" + "\\" + SERVICE + ".sys"
# The configuration manager's answer when a property does not fit the room given.
CR_BUFFER_SMALL = 0x1A


def cp1252(text):
    """A scenario text as the program sees it: up to its first NUL, in code page 1252."""
    return text.split("\0", 1)[0].encode("cp1252", errors="replace")


def tree_text(value):
    return "".join("\\\\" if byte == 0x5C else chr(byte) if 0x20 <= byte <= 0x7E
                   else "\\x%02x" % byte for byte in value)


def tree_lines(node, depth=0):
    lines = ["node %d" % depth]
    for name in ("driver", "hardwareId", "description"):
        values = node.get(name, [])
        values = [values] if isinstance(values, str) else values
        if name in node and not values:
            raise Failure("the tree file cannot hold an empty hardware ID list")
        lines += ["%s %s" % (name, tree_text(cp1252(value))) for value in values]
    for child in node.get("children", []):
        lines += tree_lines(child, depth + 1)
    return lines


def write_tree_file(path, cfgmgr):
    lines = ["# written by harness/hcpath.py"]
    if cfgmgr.get("root") is False:
        lines.append("locate fail")
    lines += tree_lines(cfgmgr.get("tree", {}))
    Path(path).write_text("\n".join(lines) + "\n")


def preorder_drivers(node):
    """The driver property of every node in the order a depth-first search meets them."""
    found = [cp1252(node["driver"]).decode("cp1252") if "driver" in node else None]
    for child in node.get("children", []):
        found += preorder_drivers(child)
    return found


def driver_reply_value(reply):
    """The value of one HCDn: a text for a name, raw bytes as they are, a DWORD for a
    refusal."""
    if isinstance(reply, dict):
        return bytes.fromhex(reply["bytes"])
    return 0 if reply is None else reply


def configure_driver(session, driver, hcds):
    """Stops the driver, gives it these devices and starts it again."""
    session.run(["sc", "stop", SERVICE], check_status=False)
    shutil.copyfile(driver, session.prefix / "drive_c" / "windows" / "system32" / "drivers"
                    / (SERVICE + ".sys"))
    if session.query_value(SERVICE_KEY, "ImagePath") is None:
        session.run(["sc", "create", SERVICE, "type=", "kernel", "start=", "demand", "binPath=",
                     DRIVER_PATH], check_status=False)
        check(session.query_value(SERVICE_KEY, "ImagePath") is not None,
              "sc create made the driver's service")
    replies = {"HCD%d" % h["index"]: driver_reply_value(h["driverKey"]) for h in hcds}
    # Every value the driver reads or writes, so that nothing of an earlier start remains.
    for name in ["HCD%d" % i for i in range(HCD_COUNT)] + ["Opens", "Requests"]:
        session.write_value(PARAMETERS_KEY, name, replies.get(name))
    started = session.run(["sc", "start", SERVICE], check_status=False)
    # The service manager may still be settling the start when the first query comes.
    for _ in range(10):
        out = session.run(["sc", "query", SERVICE], check_status=False)
        if "RUNNING" in out:
            break
        time.sleep(0.5)
    check("RUNNING" in out, "the test driver runs: sc start said %r, sc query says %r"
          % (started.strip(), out.strip()))
    check_equal(driver_counts(session), (0, 0), "the driver's open and request counts at its start")


def driver_counts(session):
    """(opens, requests) as the driver wrote them into its Parameters key."""
    values = [session.query_value(PARAMETERS_KEY, name) for name in ("Opens", "Requests")]
    check(None not in values, "the driver wrote its counts: %r" % values)
    return tuple(int(value, 0) for value in values)


def read_lines(path):
    return Path(path).read_bytes().decode("latin-1").splitlines()


def cfgmgr_loads(program_log):
    """Each configuration manager that Wine's loader loaded into the program, in order, as
    "native PATH" or "builtin PATH", from its loaddll trace; that it traced the program's own
    libraries shows the trace was on."""
    loaded = []
    for line in read_lines(program_log):
        if ":trace:loaddll:" in line and " Loaded " in line:
            path, _, kind = line.partition(' Loaded L"')[2].rpartition('" at ')
            # The trace doubles each backslash.
            loaded.append((path.replace("\\\\", "\\"), kind.rpartition(": ")[2]))
    check([p for p, _ in loaded if p.lower().endswith("\\user32.dll")],
          "Wine's loader traced the program's libraries into %s" % program_log)
    return ["%s %s" % (kind, path) for path, kind in loaded
            if path.lower().rpartition("\\")[2] == "cfgmgr32.dll"]


def call_log(path, loads, stand_in):
    """The test library's call log, which exists exactly when the library was loaded."""
    if not loads or stand_in is None or loads != ["native " + stand_in] * len(loads):
        check_equal(os.path.exists(path), False,
                    "a call log of the test library, which Wine never loaded (%r)" % loads)
        return []
    check(os.path.exists(path), "the test library's call log %s: Wine loaded it %d times"
          % (path, len(loads)))
    return read_lines(path)


@contextlib.contextmanager
def system_library(session, name, library):
    """The file library in the prefix's system folder as name, where the system's own would be,
    for as long as the block runs; then the prefix's own file again. Yields its Windows path, as
    Wine's loader writes it."""
    folder = session.prefix / "drive_c" / "windows" / "system32"
    # Wine finds files without regard to case: the prefix's own file is the one replaced.
    path = next((p for p in folder.iterdir() if p.name.lower() == name.lower()), folder / name)
    saved = path.read_bytes() if path.exists() else None
    shutil.copyfile(library, path)
    try:
        yield "C:\\windows\\system32\\" + path.name
    finally:
        if saved is None:
            path.unlink()
        else:
            path.write_bytes(saved)


def log_fields(line):
    """'NAME a=1 b=x -> 0x0 c=2' as (NAME, {a, b}, result, {c})."""
    call, _, outcome = line.partition(" -> ")
    name, *args = call.split(" ")
    result, *outs = outcome.split(" ")
    return (name, dict(a.split("=", 1) for a in args), int(result, 0),
            dict(o.split("=", 1) for o in outs))


def icon_frames(run, main):
    """Which verdict's frames the status icon shows, judged by their colours on the screen."""
    rows = run.pixels(main.control(IDC_STATUS_ICON).rect)
    seen = {name for row in rows for pixel in row for name, colours in FRAME_COLOURS.items()
            if pixel in colours}
    return "+".join(sorted(seen)) or "no verdict colours"


def library_loads(calls):
    """The calls between each load of the library and its free."""
    loads = []
    for line in calls:
        if line == "load":
            check(not loads or loads[-1][1], "a load after a free: %r" % calls)
            loads.append([[], False])
        elif line == "free":
            check(loads and not loads[-1][1], "a free after a load: %r" % calls)
            loads[-1][1] = True
        else:
            check(line != "unload at exit", "the library was freed by the program: %r" % calls)
            check(loads and not loads[-1][1], "a call while loaded: %r" % line)
            loads[-1][0].append(log_fields(line))
    check(all(freed for _, freed in loads), "every load freed: %r" % calls)
    return [load for load, _ in loads]


