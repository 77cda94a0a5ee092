"""The host controller path under Wine: test driver, stand-in CfgMgr32.dll, CASES, run_case."""

import contextlib
import os
import shutil
import time
from dataclasses import dataclass, field
from pathlib import Path

from harness import Failure, catalogue, check, check_equal, observation
from harness.catalogue import IDC_DETAILS_LIST, IDC_HEADLINE, IDC_MORE_INFO, IDC_STATUS_ICON
from harness.sim import check_recording, port_access, simulate
from harness.modes import MODES
from harness.window import EXE_NAME, QVDUMP_NAME
from harness.wine import windows_path

SERVICE = "hcdtest"
SERVICE_KEY = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services" + "\\" + SERVICE
PARAMETERS_KEY = SERVICE_KEY + r"\Parameters"
HCD_COUNT = 10  # the driver's devices: HCD0 to HCD9
DRIVER_PATH = r"C:\windows\system32\drivers" + "\\" + SERVICE + ".sys"
# The configuration manager's answer when a property does not fit the room given.
CR_BUFFER_SMALL = 0x1A

# The light and dark colours of each verdict's icon frames.
FRAME_COLOURS = {
    "USBYES": {(0, 255, 0), (0, 128, 0)},
    "USBMAYB": {(255, 255, 0), (128, 128, 0)},
    "USBNO": {(255, 0, 0), (128, 0, 0)},
}

UHCI_KEY_0 = "{36FC9E60-C465-11CF-8056-444553540000}\\0000"
UHCI_KEY_1 = "{36FC9E60-C465-11CF-8056-444553540000}\\0001"
PCI_BUS_KEY = "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0000"
PIIX4_HWID = ["PCI\\VEN_8086&DEV_7112&SUBSYS_00000000&REV_01", "PCI\\VEN_8086&DEV_7112"]
PIIX4_DESC = "Intel 82371AB/EB PCI to USB Universal Host Controller"
PIIX4_LINE = catalogue.text(catalogue.MSG_HC_VENDOR_DEVICE) % ("Intel Corporation", 0x8086,
                                                                0x7112)
VIA_HWID = ["PCI\\VEN_1106&DEV_3038&SUBSYS_12340925&REV_1A", "PCI\\VEN_1106&DEV_3038"]
VIA_DESC = "VIA Tech 3038 PCI to USB Universal Host Controller"
VIA_LINE = catalogue.text(catalogue.MSG_HC_VENDOR_DEVICE) % ("Via Technologies", 0x1106, 0x3038)
HC_UNIDENTIFIED = catalogue.text(catalogue.MSG_HC_UNIDENTIFIED)


def piix4_tree(driver_key=UHCI_KEY_0, *more):
    """A root, the PCI bus and under it the PIIX-4's USB function, then the nodes more."""
    return {"children": [
        {"driver": PCI_BUS_KEY, "hardwareId": "ACPI\\PNP0A03", "description": "PCI bus",
         "children": [
             {"driver": "{4D36E96A-E325-11CE-BFC1-08002BE10318}\\0000",
              "hardwareId": "PCI\\VEN_8086&DEV_7111", "description": "Intel 82371AB/EB IDE"},
             {"driver": driver_key, "hardwareId": PIIX4_HWID, "description": PIIX4_DESC},
             *more]},
        {"driver": "{4D36E96B-E325-11CE-BFC1-08002BE10318}\\0000",
         "description": "Standard 101/102-Key Keyboard"}]}


VIA_NODE = {"driver": UHCI_KEY_1, "hardwareId": VIA_HWID, "description": VIA_DESC}
# A name whose letter outside ASCII must come through the conversion to the ANSI code page to
# match the node's driver property.
UMLAUT_KEY = "{36FC9E60-C465-11CF-8056-444553540000}\\\u00fcber"
# A hardware ID (one string, its NUL and the final NUL) and description that fill their room
# exactly, and ones a byte longer, which cannot be read.
HWID_START = "PCI\\VEN_8086&DEV_7112&SUBSYS_"
FITS = {"driver": UHCI_KEY_0, "hardwareId": [HWID_START + "0" * (254 - len(HWID_START))],
        "description": "D" * 254}
TOO_LONG = {"driver": UHCI_KEY_1, "hardwareId": [HWID_START + "1" * (255 - len(HWID_START))],
            "description": "E" * 255}


@dataclass
class Case:
    """A machine: Wine's Version, the driver's devices ((index, reply): a name, raw bytes, or
    None for a refusal), the configuration manager (the stand-in's tree and answers, or Wine's
    own); and what the window must show: lines together in the Details list, a text in none of
    them, and the verdict supported. searched: the names whose search the stand-in's call log
    shows, one load each, with the reads that found their buffer too small; requests: instead,
    the driver requests of one controller whose name is never looked up."""
    windows: str
    hcds: list
    cfgmgr: dict
    lines: list
    absent: str = None
    searched: list = None
    too_small: list = field(default_factory=list)
    requests: int = None
    test_cfgmgr: bool = True
    supported: bool = True


CASES = {
    "win98_one_controller": Case(
        "win98", [(0, UHCI_KEY_0)], {"tree": piix4_tree()}, [PIIX4_LINE, "\t" + PIIX4_DESC, ""],
        absent=HC_UNIDENTIFIED, searched=[UHCI_KEY_0]),
    # The only candidate differs in letter case: the name is compared case-sensitively. The
    # chipset cannot be probed under Wine, so it rates exactly undetermined and the controller
    # is reported without a vendor.
    "node_absent": Case(
        "win98", [(0, UHCI_KEY_0)], {"tree": piix4_tree(UHCI_KEY_0.lower())},
        [HC_UNIDENTIFIED, ""], absent="Found Intel", searched=[UHCI_KEY_0]),
    # HCD1 is the VIA controller, which the tree lists after the PIIX-4 at HCD6: the lines
    # follow the device indexes.
    "two_controllers_hcd1_hcd6": Case(
        "win98", [(1, UHCI_KEY_1), (6, UHCI_KEY_0)], {"tree": piix4_tree(UHCI_KEY_0, VIA_NODE)},
        [VIA_LINE, "\t" + VIA_DESC, "", PIIX4_LINE, "\t" + PIIX4_DESC, ""],
        searched=[UHCI_KEY_1, UHCI_KEY_0]),
    # The search on Windows 2000 is the same as on 98.
    "win2k_two_controllers": Case(
        "win2k", [(1, UHCI_KEY_1), (6, UHCI_KEY_0)], {"tree": piix4_tree(UHCI_KEY_0, VIA_NODE)},
        [VIA_LINE, "\t" + VIA_DESC, "", PIIX4_LINE, "\t" + PIIX4_DESC, ""],
        searched=[UHCI_KEY_1, UHCI_KEY_0]),
    "property_room": Case(
        "win98", [(0, UHCI_KEY_0), (1, UHCI_KEY_1)], {"tree": {"children": [FITS, TOO_LONG]}},
        [PIIX4_LINE, "\t" + "D" * 254, "", ""], absent="E" * 255,
        searched=[UHCI_KEY_0, UHCI_KEY_1], too_small=[("2", "257"), ("1", "256")]),
    # A raw reply whose ActualLength is not what the driver returned (the program must not
    # rely on it), naming a node with a letter outside ASCII.
    "reply_conversion": Case(
        "win98",
        [(3, {"bytes": ((0).to_bytes(4, "little") + UMLAUT_KEY.encode("utf-16-le")
                        + b"\0\0").hex()})],
        {"tree": piix4_tree(UMLAUT_KEY)}, [PIIX4_LINE, "\t" + PIIX4_DESC, ""],
        searched=[UMLAUT_KEY]),
    "win95_driver_not_asked": Case(
        "win95", [(0, UHCI_KEY_0)], {"tree": piix4_tree()}, [HC_UNIDENTIFIED, ""], requests=0,
        supported=False),
    "driver_refuses": Case(
        "win98", [(0, None)], {"tree": piix4_tree()}, [HC_UNIDENTIFIED, ""], requests=1),
    # Wine's CM_Locate_DevNodeA fails, so the tree is never walked.
    "wine_cfgmgr32": Case(
        "win98", [(0, UHCI_KEY_0)], {"root": False}, [HC_UNIDENTIFIED, ""], requests=1,
        test_cfgmgr=False),
}


# The tree file of the test configuration manager


def cp1252(text):
    """A scenario text as the program sees it: up to its first NUL, in code page 1252."""
    return text.split("\0", 1)[0].encode("cp1252", errors="replace")


def tree_text(value):
    return "".join("\\\\" if byte == 0x5C else chr(byte) if 0x20 <= byte <= 0x7E
                   else "\\x%02x" % byte for byte in value)


def tree_lines(node, depth=0):
    lines = ["node %d" % depth]
    if "driver" in node:
        lines.append("driver " + tree_text(cp1252(node["driver"])))
    if "hardwareId" in node:
        ids = node["hardwareId"]
        ids = [ids] if isinstance(ids, str) else ids
        if not ids:
            raise Failure("the tree file cannot hold an empty hardware ID list")
        lines += ["hardwareId " + tree_text(cp1252(i)) for i in ids]
    if "description" in node:
        lines.append("description " + tree_text(cp1252(node["description"])))
    for child in node.get("children", []):
        lines += tree_lines(child, depth + 1)
    return lines


def write_tree_file(path, cfgmgr):
    lines = ["# written by harness/hcpath.py"]
    if cfgmgr.get("root") is False:
        lines.append("locate fail")
    lines += tree_lines(cfgmgr.get("tree", {}))
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def preorder_drivers(node):
    """The driver property of every node in the order a depth-first search meets them."""
    found = [cp1252(node["driver"]).decode("cp1252") if "driver" in node else None]
    for child in node.get("children", []):
        found += preorder_drivers(child)
    return found


# The test driver


def driver_reply_value(reply):
    """The value of one HCDn: a text for a name, raw bytes as they are, a DWORD for a
    refusal."""
    if reply is None:
        return 0
    if isinstance(reply, dict):
        return bytes.fromhex(reply["bytes"])
    return reply


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


# One run of the program


def read_lines(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1").splitlines()


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


def run_machine(run, case, driver, cfgmgr, folder):
    """Runs the program on the case's machine, with the test driver driver and the stand-in
    configuration manager cfgmgr (unless the case has Wine's own), in folder; checks that the
    window shows what the simulator says of the same machine, and returns the window's Details
    lines, the driver's (opens, requests), the stand-in's call log and the configuration
    managers loaded."""
    session = run.session
    mode = MODES[case.windows]
    record, registry_text = mode.record(), mode.registry if mode.family == "9x" else None
    hcds = [{"index": index, "driverKey": reply} for index, reply in case.hcds]
    expected = simulate(session.sim, {
        "version": record, "registry": {"9x": registry_text, "nt": session.nt_current_version},
        "ports": port_access(session, record), "hcd": hcds, "cfgmgr": case.cfgmgr}, folder)
    exe_folder = Path(session.exe).resolve().parent
    check(not (exe_folder / "CfgMgr32.dll").exists(),
          "no test CfgMgr32.dll beside the product in %s" % exe_folder)
    exe = folder / EXE_NAME
    shutil.copyfile(session.exe, exe)
    # A CfgMgr32.dll beside the programs, as a downloads folder may hold one, is never loaded:
    # the stand-in is the system's.
    planted = folder / "CfgMgr32.dll"
    shutil.copyfile(cfgmgr, planted)
    tree, log = folder / "tree.txt", folder / "cfgmgr.log"
    if case.test_cfgmgr:
        write_tree_file(tree, case.cfgmgr)
    run.session.set_versions(case.windows, win9x_number=registry_text)
    configure_driver(session, driver, hcds)
    # The loader's trace tells which configuration manager the program loaded; Wine prefers its
    # built-in library unless told. The texts of these machines are code page 1252, as in the
    # simulator.
    overrides = "cfgmgr32=n" if case.test_cfgmgr else ""
    with contextlib.ExitStack() as stack:
        stand_in = (stack.enter_context(system_library(session, "CfgMgr32.dll", cfgmgr))
                    if case.test_cfgmgr else None)
        program = run.start("-all,err+all,+loaddll", overrides, exe,
                            {"LC_ALL": "C", "QORVALIN_CFGMGR_TREE": windows_path(tree),
                             "QORVALIN_CFGMGR_LOG": windows_path(log)})
        main = run.continue_to_verdict(program)
        seen = observation.of_window(main)
        seen.frames = icon_frames(run, main)
        observation.check(seen, expected, parts=observation.SHOWN_PARTS + ("frames",))
        if case.supported:
            check_equal(main.control(IDC_HEADLINE).text,
                        catalogue.text(catalogue.MSG_HEADLINE_SUPPORTED), "headline")
            check_equal(expected["frames"], "USBYES", "the status icon's frames")
            check_equal(expected["verdict"], "supported", "the simulator's verdict")
        panel = main.control(IDC_MORE_INFO).text
        check(catalogue.text(catalogue.MSG_INFO_HARDWARE_SUPPORTED) + "\r\n\r\n" in panel,
              "the supported hardware's paragraph in More Information: %r" % panel)
        counts = driver_counts(session)
        check_equal(run.close(program, main), 0, "exit code after Close")
        loads = cfgmgr_loads(program.log)
        check(not [load for load in loads if windows_path(folder).lower() in load.lower()],
              "the CfgMgr32.dll beside the program was never loaded: %r" % loads)
        if not case.test_cfgmgr:
            check(not [load for load in loads if not load.startswith("builtin ")],
                  "only Wine's own configuration manager loaded: %r" % loads)
        calls = call_log(log, [load.lower() for load in loads],
                         stand_in.lower() if stand_in else None)
        check(not [c for c in calls if c.startswith("error")],
              "the test library read its tree: %r" % calls)
        # QVDUMP, beside the same configuration manager and with a log of its own, records the
        # machine the program was shown on.
        qvdump = folder / QVDUMP_NAME
        shutil.copyfile(session.exe.parent / QVDUMP_NAME, qvdump)
        recorder = check_recording(run, main, folder, qvdump, overrides,
                                   {"LC_ALL": "C", "QORVALIN_CFGMGR_TREE": windows_path(tree),
                                    "QORVALIN_CFGMGR_LOG": windows_path(folder / "qvdump-cfgmgr.log")},
                                   wine_debug="-all,err+all,+loaddll")
        recorder_loads = [load.lower() for load in cfgmgr_loads(recorder.log)]
        check_equal(recorder_loads, ["native " + stand_in.lower()] if stand_in else
                    ["builtin c:\\windows\\system32\\cfgmgr32.dll"],
                    "the configuration manager QVDUMP loaded")
    return main.control(IDC_DETAILS_LIST).items, counts, calls, loads


def check_lines_in_order(details, lines):
    """The lines stand together, in this order, exactly once in the Details list."""
    n = len(lines)
    places = [i for i in range(len(details) - n + 1) if details[i:i + n] == lines]
    check_equal(len(places), 1, "places of %r in the Details list %r" % (lines, details))


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


def check_search(search, tree, driver_key):
    """One search of the tree: the root located, the driver property read from each node in
    depth-first order up to the match, and on a match the hardware ID and the description read
    with the room the buffer has behind the TAB."""
    check(search, "calls between the library's load and free")
    name, args, result, _ = search[0]
    check_equal((name, args, result), ("CM_Locate_DevNodeA", {"id": "(null)", "flags": "0x0"}, 0),
                "the first call of a search")
    for name, args, _, _ in search:
        check_equal(args.get("flags"), "0x0", "flags of %s" % name)
    reads = [(args["node"], int(args["property"]), int(args["length"]), result)
             for name, args, result, _ in search if name == "CM_Get_DevNode_Registry_PropertyA"]
    driver_reads = [r for r in reads if r[1] == 10]
    order = preorder_drivers(tree)
    found = driver_key in order
    visited = order[:order.index(driver_key) + 1] if found else order
    check_equal(len(driver_reads), len(visited), "driver properties read: %r" % search)
    check(all(r[2] == 256 for r in driver_reads), "driver property read with 256 bytes of room")
    others = [(prop, length) for _, prop, length, _ in reads if prop != 10]
    check_equal(others, [(2, 256), (1, 255)] if found else [], "the found node's reads")


def run_case(run, case, driver, cfgmgr, folder):
    """Runs the case (one of CASES) in the run's session with these builds of the test driver
    and the stand-in configuration manager, in folder (made afresh), and checks it; stops the
    driver afterwards, so that no other test sees its devices."""
    folder = Path(folder)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    try:
        details, counts, calls, loaded = run_machine(run, case, driver, cfgmgr, folder)
    finally:
        try:
            run.stop_all()
        finally:
            run.session.run(["sc", "stop", SERVICE], check_status=False)
    check_lines_in_order(details, case.lines)
    if case.absent is not None:
        check(not [line for line in details if case.absent in line],
              "no Details line holds %r: %r" % (case.absent, details))
    if case.searched is None:
        # One controller and no name for it: the stand-in never loaded nor called; with a
        # name to look up, Wine's own configuration manager, which locates no root.
        check_equal(counts, (1, case.requests), "driver opens and requests")
        check_equal(calls, [], "calls of the test configuration manager")
        check_equal([load.split(" ")[0] for load in loaded],
                    [] if case.test_cfgmgr else ["builtin"], "configuration managers loaded")
        return
    keys = case.searched
    check_equal(counts, (len(keys), len(keys)), "driver opens and requests")
    searches = library_loads(calls)
    check_equal(len(searches), len(keys), "library loads, one per named controller")
    for search, key in zip(searches, keys):
        check_search(search, case.cfgmgr["tree"], key)
    small = [(args["property"], outs["length"]) for search in searches
             for _, args, result, outs in search if result == CR_BUFFER_SMALL]
    check_equal(small, case.too_small, "reads that found the buffer too small")
