"""End-to-end tests of the host controller path: the real program under Wine, with the test
driver behind \\\\.\\HCDn and the test CfgMgr32.dll (or Wine's own), each run held to the
simulator's report for the same machine."""

import json
import os
import shutil
import subprocess
import sys
import time

from harness import wine
from harness.wine import check, check_equal, Failure
from harness.wine import IDC_MORE_INFO, IDC_DETAILS_LIST, IDC_HEADLINE, IDC_STATUS_ICON, IDC_CONTINUE

SERVICE = "hcdtest"
SERVICE_KEY = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services" + "\\" + SERVICE
PARAMETERS_KEY = SERVICE_KEY + r"\Parameters"
HCD_COUNT = 10  # the driver's devices: HCD0 to HCD9
DRIVER_PATH = r"C:\windows\system32\drivers" + "\\" + SERVICE + ".sys"

# What GetVersionExA reports under each of Wine's Version settings, and the 9x registry text
# the tests put beside it.
WINE_MACHINES = {
    "win95": ({"major": 4, "minor": 0, "build": "0x040003B6", "platform": 1, "csd": ""},
              "4.00.950"),
    "win98": ({"major": 4, "minor": 10, "build": "0x040A08AE", "platform": 1, "csd": " A "},
              "4.10.2222"),
}

# The light and dark colours of each verdict's icon frames.
FRAME_COLOURS = {
    "USBYES": {(0, 255, 0), (0, 128, 0)},
    "USBMAYB": {(255, 255, 0), (128, 128, 0)},
    "USBNO": {(255, 0, 0), (128, 0, 0)},
}

HEADLINE_SUPPORTED = "\r\nThis system supports USB."
INFO_HARDWARE_SUPPORTED = "This system has hardware that supports USB."
HC_UNIDENTIFIED = "Found a USB host controller.  The vendor cannot be identified."

UHCI_KEY_0 = "{36FC9E60-C465-11CF-8056-444553540000}\\0000"
UHCI_KEY_1 = "{36FC9E60-C465-11CF-8056-444553540000}\\0001"
PCI_BUS_KEY = "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0000"
PIIX4_HWID = ["PCI\\VEN_8086&DEV_7112&SUBSYS_00000000&REV_01", "PCI\\VEN_8086&DEV_7112"]
PIIX4_DESC = "Intel 82371AB/EB PCI to USB Universal Host Controller"
PIIX4_LINE = "Found Intel Corporation (8086) USB host controller device 7112"
VIA_HWID = ["PCI\\VEN_1106&DEV_3038&SUBSYS_12340925&REV_1A", "PCI\\VEN_1106&DEV_3038"]
VIA_DESC = "VIA Tech 3038 PCI to USB Universal Host Controller"
VIA_LINE = "Found Via Technologies (1106) USB host controller device 3038"


def piix4_tree(driver_key=UHCI_KEY_0):
    """A root, the PCI bus and under it the PIIX-4's USB function."""
    return {"children": [
        {"driver": PCI_BUS_KEY, "hardwareId": "ACPI\\PNP0A03", "description": "PCI bus",
         "children": [
             {"driver": "{4D36E96A-E325-11CE-BFC1-08002BE10318}\\0000",
              "hardwareId": "PCI\\VEN_8086&DEV_7111", "description": "Intel 82371AB/EB IDE"},
             {"driver": driver_key, "hardwareId": PIIX4_HWID, "description": PIIX4_DESC}]},
        {"driver": "{4D36E96B-E325-11CE-BFC1-08002BE10318}\\0000",
         "description": "Standard 101/102-Key Keyboard"}]}


# ---------------------------------------------------------------------------------------------
# The tree file of the test configuration manager


def cp1252(text):
    """A scenario text as the program sees it: up to its first NUL, in code page 1252."""
    return text.split("\0", 1)[0].encode("cp1252", errors="replace")


def tree_text(value):
    out = []
    for byte in value:
        if byte == 0x5C:
            out.append("\\\\")
        elif 0x20 <= byte <= 0x7E:
            out.append(chr(byte))
        else:
            out.append("\\x%02x" % byte)
    return "".join(out)


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
    if cfgmgr.get("missing"):
        raise Failure("the test configuration manager always has its five functions")
    lines = ["# written by test_hcpath.py"]
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


# ---------------------------------------------------------------------------------------------
# The test driver


def driver_reply_value(key):
    """The value of one HCDn: a text for a name, raw bytes as they are, a DWORD for a
    refusal."""
    if key is None:
        return 0
    if isinstance(key, dict):
        return bytes.fromhex(key["bytes"])
    return key


def configure_driver(run, hcds):
    """Stops the driver, gives it these devices and starts it again."""
    state = run.state
    wine.run_wine(state, ["sc", "stop", SERVICE], check_status=False)
    target = os.path.join(state["prefix"], "drive_c", "windows", "system32", "drivers",
                          SERVICE + ".sys")
    shutil.copyfile(state["hcdriver"], target)
    if wine.query_value(state, SERVICE_KEY, "ImagePath") is None:
        wine.run_wine(state, ["sc", "create", SERVICE, "type=", "kernel", "start=", "demand",
                              "binPath=", DRIVER_PATH], check_status=False)
        check(wine.query_value(state, SERVICE_KEY, "ImagePath") is not None,
              "sc create made the driver's service")
    replies = {"HCD%d" % h["index"]: driver_reply_value(h["driverKey"]) for h in hcds}
    # Every value the driver reads or writes, so that nothing of an earlier start remains.
    for name in ["HCD%d" % i for i in range(HCD_COUNT)] + ["Opens", "Requests"]:
        wine.write_value(state, PARAMETERS_KEY, name, replies.get(name))
    started = wine.run_wine(state, ["sc", "start", SERVICE], check_status=False)
    # The service manager may still be settling the start when the first query comes.
    for _ in range(10):
        out = wine.run_wine(state, ["sc", "query", SERVICE], check_status=False)
        if "RUNNING" in out:
            break
        time.sleep(0.5)
    check("RUNNING" in out, "the test driver runs: sc start said %r, sc query says %r"
          % (started.strip(), out.strip()))
    check_equal(driver_counts(run), (0, 0), "the driver's open and request counts at its start")


def stop_driver(run):
    wine.run_wine(run.state, ["sc", "stop", SERVICE], check_status=False)


def driver_counts(run):
    """(opens, requests) as the driver wrote them into its Parameters key."""
    values = {name: wine.query_value(run.state, PARAMETERS_KEY, name)
              for name in ("Opens", "Requests")}
    check(None not in values.values(), "the driver wrote its counts: %r" % values)
    values = {name: int(value, 0) for name, value in values.items()}
    return values["Opens"], values["Requests"]


# ---------------------------------------------------------------------------------------------
# The simulator


def parse_report(text):
    report = {"detail": []}
    for line in text.splitlines():
        key, _, value = line.partition(": ")
        if key == "detail" and line.startswith("detail:"):
            report["detail"].append(wine.unescape(line[len("detail: "):]))
        else:
            report[key] = wine.unescape(value)
    return report


def simulate(run, scenario):
    sim = run.state.get("sim")
    if not sim or not os.path.isfile(sim):
        raise Failure("the simulator %r has not been built" % sim)
    path = os.path.join(run.folder, "scenario.json")
    with open(path, "w") as f:
        json.dump(scenario, f, indent=1)
    result = subprocess.run([sim, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=60)
    if result.returncode != 0:
        raise Failure("qorvalin-sim %s: exit %d: %s"
                      % (path, result.returncode, result.stderr.decode(errors="replace")))
    return parse_report(result.stdout.decode("latin-1"))


# ---------------------------------------------------------------------------------------------
# One run of the program


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


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
    if not loads or loads != ["native " + stand_in] * len(loads):
        check_equal(os.path.exists(path), False,
                    "a call log of the test library, which Wine never loaded (%r)" % loads)
        return []
    check(os.path.exists(path), "the test library's call log %s: Wine loaded it %d times"
          % (path, len(loads)))
    return read_lines(path)


def log_fields(line):
    """'NAME a=1 b=x -> 0x0 c=2' as (NAME, {a, b}, result, {c})."""
    call, _, outcome = line.partition(" -> ")
    name, *args = call.split(" ")
    result, *outs = outcome.split(" ")
    return (name, dict(a.split("=", 1) for a in args), int(result, 0),
            dict(o.split("=", 1) for o in outs))


def run_machine(run, version, hcds, cfgmgr, test_cfgmgr=True):
    """Runs the program on Wine's version `version` with these driver devices and device tree
    (the test library's or, with test_cfgmgr False, Wine's own), and returns what the window
    shows, what the simulator says about the same machine, and the library's call log."""
    state = run.state
    record, registry_text = WINE_MACHINES[version]
    scenario = {
        "version": record,
        "registry": {"9x": registry_text, "nt": state.get("nt_current_version")},
        "ports": wine.port_access(state, record),
        "hcd": hcds,
        "cfgmgr": cfgmgr,
    }
    expected = simulate(run, scenario)

    exe_folder = os.path.dirname(os.path.abspath(state["exe"]))
    check(not os.path.exists(os.path.join(exe_folder, "CfgMgr32.dll")),
          "no test CfgMgr32.dll beside the product in %s" % exe_folder)
    exe = os.path.join(run.folder, wine.EXE_NAME)
    shutil.copyfile(state["exe"], exe)
    env = wine.wine_environment(state)
    # The loader's trace tells which configuration manager the program loaded, if any.
    env["WINEDEBUG"] = "-all,err+all,+loaddll"
    # The texts of these machines are code page 1252, as in the simulator.
    env["LC_ALL"] = "C"
    tree = os.path.join(run.folder, "tree.txt")
    log = os.path.join(run.folder, "cfgmgr.log")
    if test_cfgmgr:
        shutil.copyfile(state["cfgmgr"], os.path.join(run.folder, "CfgMgr32.dll"))
        write_tree_file(tree, cfgmgr)
        # Wine prefers its built-in library even in the program's folder unless told.
        env["WINEDLLOVERRIDES"] += ";cfgmgr32=n"
    env["QORVALIN_CFGMGR_TREE"] = windows_path(tree)
    env["QORVALIN_CFGMGR_LOG"] = windows_path(log)

    run.set_versions(version, win9x_number=registry_text)
    configure_driver(run, hcds)
    program_log = wine.log_path(state, run.name + ".log")
    with open(program_log, "wb") as out:
        program = subprocess.Popen(wine.wine_command(state) + [exe], env=env,
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=out)
    program.log = program_log
    run.programs.append(program)
    splash = run.splash(program)
    # xdotool's synchronous move waits for motion, and the last case left the pointer right
    # on Continue.
    run.xdotool("mousemove", 0, 0)
    run.click(splash.control(IDC_CONTINUE))
    main = run.main_window(program)
    shown = {
        "headline": main.control(IDC_HEADLINE).text,
        "panel": main.control(IDC_MORE_INFO).text,
        "detail": main.control(IDC_DETAILS_LIST).items,
        "frames": icon_frames(run, main),
    }
    counts = driver_counts(run)
    check_equal(run.close(program, main), 0, "exit code after Close")
    loads = cfgmgr_loads(program_log)
    if not test_cfgmgr:
        check(not [load for load in loads if not load.startswith("builtin ")],
              "only Wine's own configuration manager loaded: %r" % loads)
    calls = call_log(log, loads, windows_path(os.path.join(run.folder, "CfgMgr32.dll")))
    check(not [c for c in calls if c.startswith("error")],
          "the test library read its tree: %r" % calls)
    run.cfgmgr_loads = loads
    return shown, expected, counts, calls


def icon_frames(run, main):
    """Which verdict's frames the status icon shows, judged by their colours on the screen."""
    rows = run.pixels(main.control(IDC_STATUS_ICON).rect)
    seen = {name for row in rows for pixel in row for name, colours in FRAME_COLOURS.items()
            if pixel in colours}
    return "+".join(sorted(seen)) or "no verdict colours"


def check_same_as_simulator(shown, expected):
    for key in ("headline", "panel", "detail", "frames"):
        check_equal(shown[key], expected[key], "%s: the window vs the simulator" % key)


def check_supported(shown, expected):
    check_equal(shown["headline"], HEADLINE_SUPPORTED, "headline")
    check_equal(shown["frames"], "USBYES", "the status icon's frames")
    check_equal(expected["verdict"], "supported", "the simulator's verdict")


def check_hardware_paragraph(shown):
    check(INFO_HARDWARE_SUPPORTED + "\r\n\r\n" in shown["panel"],
          "paragraph 1087 in More Information: %r" % shown["panel"])


def check_lines_in_order(details, lines):
    """The lines stand together, in this order, exactly once in the Details list."""
    n = len(lines)
    places = [i for i in range(len(details) - n + 1) if details[i:i + n] == lines]
    check_equal(len(places), 1, "places of %r in the Details list %r" % (lines, details))


def library_sessions(calls):
    """The calls between each load of the library and its free."""
    sessions = []
    for line in calls:
        if line == "load":
            check(not sessions or sessions[-1][1], "a load after a free: %r" % calls)
            sessions.append([[], False])
        elif line == "free":
            check(sessions and not sessions[-1][1], "a free after a load: %r" % calls)
            sessions[-1][1] = True
        else:
            check(line != "unload at exit", "the library was freed by the program: %r" % calls)
            check(sessions and not sessions[-1][1], "a call while loaded: %r" % line)
            sessions[-1][0].append(log_fields(line))
    check(all(freed for _, freed in sessions), "every load freed: %r" % calls)
    return [session for session, _ in sessions]


def check_search(session, tree, driver_key):
    """One search of the tree: the root located, the driver property read from each node in
    depth-first order up to the match, and on a match the hardware ID and the description read
    with the room the buffer has behind the TAB."""
    check(session, "calls between the library's load and free")
    name, args, result, _ = session[0]
    check_equal((name, args, result), ("CM_Locate_DevNodeA", {"id": "(null)", "flags": "0x0"}, 0),
                "the first call of a search")
    for name, args, _, _ in session:
        check_equal(args.get("flags"), "0x0", "flags of %s" % name)
    reads = [(args["node"], int(args["property"]), int(args["length"]), result)
             for name, args, result, _ in session if name == "CM_Get_DevNode_Registry_PropertyA"]
    driver_reads = [r for r in reads if r[1] == 10]
    order = preorder_drivers(tree)
    found = driver_key in order
    visited = order[:order.index(driver_key) + 1] if found else order
    check_equal(len(driver_reads), len(visited), "driver properties read: %r" % session)
    check(all(r[2] == 256 for r in driver_reads), "driver property read with 256 bytes of room")
    others = [(prop, length) for _, prop, length, _ in reads if prop != 10]
    check_equal(others, [(2, 256), (1, 255)] if found else [], "the found node's reads")


def check_searched(shown, expected, counts, calls, tree, keys):
    """A supported run in which each named controller's driver was opened and asked once, and
    the tree searched for each name in turn."""
    check_hardware_paragraph(shown)
    check_supported(shown, expected)
    check_equal(counts, (len(keys), len(keys)), "driver opens and requests")
    sessions = library_sessions(calls)
    check_equal(len(sessions), len(keys), "library loads, one per named controller")
    for session, key in zip(sessions, keys):
        check_search(session, tree, key)


# ---------------------------------------------------------------------------------------------
# Cases


def case_win98_one_controller(run):
    hcds = [{"index": 0, "driverKey": UHCI_KEY_0}]
    tree = piix4_tree()
    shown, expected, counts, calls = run_machine(run, "win98", hcds, {"tree": tree})
    check_same_as_simulator(shown, expected)
    check_lines_in_order(shown["detail"], [PIIX4_LINE, "\t" + PIIX4_DESC, ""])
    check(HC_UNIDENTIFIED not in shown["detail"], "no 1066 line when the controller is named")
    check_searched(shown, expected, counts, calls, tree, [UHCI_KEY_0])


def case_node_absent(run):
    # The only candidate differs in letter case: the name is compared case-sensitively.
    hcds = [{"index": 0, "driverKey": UHCI_KEY_0}]
    tree = piix4_tree(UHCI_KEY_0.lower())
    shown, expected, counts, calls = run_machine(run, "win98", hcds, {"tree": tree})
    check_same_as_simulator(shown, expected)
    # The chipset cannot be probed under Wine (its port access faults), so it rates exactly
    # undetermined and the controller is reported without a vendor.
    check_lines_in_order(shown["detail"], [HC_UNIDENTIFIED, ""])
    check(not [d for d in shown["detail"] if d.startswith("Found Intel")], "no vendor line")
    check_searched(shown, expected, counts, calls, tree, [UHCI_KEY_0])


def case_two_controllers_hcd1_hcd6(run):
    # HCD1 is the VIA controller, which the tree lists after the PIIX-4 at HCD6: the lines
    # follow the device indexes.
    hcds = [{"index": 1, "driverKey": UHCI_KEY_1}, {"index": 6, "driverKey": UHCI_KEY_0}]
    tree = piix4_tree()
    tree["children"][0]["children"].append(
        {"driver": UHCI_KEY_1, "hardwareId": VIA_HWID, "description": VIA_DESC})
    shown, expected, counts, calls = run_machine(run, "win98", hcds, {"tree": tree})
    check_same_as_simulator(shown, expected)
    check_lines_in_order(shown["detail"], [VIA_LINE, "\t" + VIA_DESC, "", PIIX4_LINE,
                                           "\t" + PIIX4_DESC, ""])
    check_searched(shown, expected, counts, calls, tree, [UHCI_KEY_1, UHCI_KEY_0])


def check_unnamed(run, windows, driver_key, requests, cfgmgr=None, test_cfgmgr=True):
    """One controller that the program gets no name for: reported without a vendor, and the test
    configuration manager never called."""
    hcds = [{"index": 0, "driverKey": driver_key}]
    shown, expected, counts, calls = run_machine(run, windows, hcds,
                                                 cfgmgr or {"tree": piix4_tree()},
                                                 test_cfgmgr=test_cfgmgr)
    check_same_as_simulator(shown, expected)
    check_equal(counts, (1, requests), "driver opens and requests")
    check_equal(calls, [], "calls of the test configuration manager")
    if test_cfgmgr:
        check_equal(run.cfgmgr_loads, [], "configuration managers loaded, with no name to look up")
    else:
        # With a name to look up the program loads Wine's own, which locates no root.
        check_equal([load.split(" ")[0] for load in run.cfgmgr_loads], ["builtin"],
                    "configuration managers loaded")
    check_lines_in_order(shown["detail"], [HC_UNIDENTIFIED, ""])
    check_hardware_paragraph(shown)
    return shown, expected


def case_win95_driver_not_asked(run):
    check_unnamed(run, "win95", UHCI_KEY_0, 0)


def case_driver_refuses(run):
    check_supported(*check_unnamed(run, "win98", None, 1))


def case_wine_cfgmgr32(run):
    # Wine's CM_Locate_DevNodeA fails, so the tree is never walked.
    check_supported(*check_unnamed(run, "win98", UHCI_KEY_0, 1, {"root": False},
                                   test_cfgmgr=False))


def case_property_room(run):
    # HCD0's hardware ID (one string, its NUL and the final NUL) and description fill their
    # room exactly; HCD1's are one byte longer and cannot be read, leaving only the blank line.
    hwid = "PCI\\VEN_8086&DEV_7112&SUBSYS_"
    fits = {"driver": UHCI_KEY_0, "hardwareId": [hwid + "0" * (254 - len(hwid))],
            "description": "D" * 254}
    too_long = {"driver": UHCI_KEY_1, "hardwareId": [hwid + "1" * (255 - len(hwid))],
                "description": "E" * 255}
    hcds = [{"index": 0, "driverKey": UHCI_KEY_0}, {"index": 1, "driverKey": UHCI_KEY_1}]
    tree = {"children": [fits, too_long]}
    shown, expected, counts, calls = run_machine(run, "win98", hcds, {"tree": tree})
    check_same_as_simulator(shown, expected)
    check_lines_in_order(shown["detail"], [PIIX4_LINE, "\t" + "D" * 254, "", ""])
    check(not [d for d in shown["detail"] if "E" * 255 in d], "the long description is left out")
    sessions = library_sessions(calls)
    check_equal(len(sessions), 2, "library loads")
    check_search(sessions[1], tree, UHCI_KEY_1)
    small = [(args["property"], outs["length"]) for name, args, result, outs in sessions[1]
             if result == 0x1A]
    check_equal(small, [("2", "257"), ("1", "256")], "reads that found the buffer too small")


def case_reply_conversion(run):
    # A raw reply: ActualLength is not what the driver returned (the program must not rely on
    # it), and the name holds a letter outside ASCII that must come through the conversion to
    # the ANSI code page to match the node's driver property.
    name = "{36FC9E60-C465-11CF-8056-444553540000}\\\u00fcber"
    raw = (0).to_bytes(4, "little") + name.encode("utf-16-le") + b"\0\0"
    hcds = [{"index": 3, "driverKey": {"bytes": raw.hex()}}]
    tree = piix4_tree(name)
    shown, expected, counts, calls = run_machine(run, "win98", hcds, {"tree": tree})
    check_same_as_simulator(shown, expected)
    check_lines_in_order(shown["detail"], [PIIX4_LINE, "\t" + PIIX4_DESC, ""])
    sessions = library_sessions(calls)
    check_equal(len(sessions), 1, "library loads")
    check_search(sessions[0], tree, name)


CASES = {name[len("case_"):]: function for name, function in globals().items()
         if name.startswith("case_")}


def run_case(name):
    """Wraps each case: its own folder, and the driver stopped afterwards so that no other
    test sees its devices."""
    def body(run):
        run.state["hcdriver"] = os.environ.get("QORVALIN_HCDRIVER", "")
        run.state["cfgmgr"] = os.environ.get("QORVALIN_TEST_CFGMGR", "")
        for what in ("hcdriver", "cfgmgr"):
            if not os.path.isfile(run.state[what]):
                raise wine.Skipped("the test %s %r has not been built" % (what, run.state[what]))
        run.folder = os.path.join(run.state["work"], "hcpath", name)
        shutil.rmtree(run.folder, ignore_errors=True)
        os.makedirs(run.folder)
        try:
            CASES[name](run)
        finally:
            try:
                run.stop_all()
            finally:
                stop_driver(run)
    return body


if __name__ == "__main__":
    sys.exit(wine.run_cases({name: run_case(name) for name in CASES}))
