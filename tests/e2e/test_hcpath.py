"""The host controller path under Wine, on the machines below: controllers that open behind the
stand-in driver and are looked up in the stand-in configuration manager's device tree on
Windows 95, 98 and 2000, each run held to the simulator's report, and QVDUMP.EXE beside the same
stand-ins held to the window. The Debian guest runs these cases too (guest/debian/job.py)."""

import contextlib
import shutil
from dataclasses import dataclass, field, replace
from pathlib import Path

import pytest

from harness import catalogue, observation
from harness.catalogue import IDC_DETAILS_LIST, IDC_HEADLINE, IDC_MORE_INFO
from harness.hcpath import (CR_BUFFER_SMALL, SERVICE, call_log, cfgmgr_loads, configure_driver,
                            driver_counts, icon_frames, library_loads, preorder_drivers,
                            system_library, write_tree_file)
from harness.modes import MODES
from harness.sim import check_recording, port_access, simulate
from harness.window import EXE_NAME, QVDUMP_NAME
from harness.wine import windows_path

UHCI_KEY_0 = "{36FC9E60-C465-11CF-8056-444553540000}\\0000"
UHCI_KEY_1 = "{36FC9E60-C465-11CF-8056-444553540000}\\0001"
PCI_BUS_KEY = "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0000"
PIIX4_HWID = ["PCI\\VEN_8086&DEV_7112&SUBSYS_00000000&REV_01", "PCI\\VEN_8086&DEV_7112"]
PIIX4_DESC = "Intel 82371AB/EB PCI to USB Universal Host Controller"
PIIX4_LINE = catalogue.text(catalogue.MSG_HC_VENDOR_DEVICE) % ("Intel Corporation", 0x8086,
                                                                0x7112)
PIIX4_LINES = [PIIX4_LINE, "\t" + PIIX4_DESC, ""]
VIA_HWID = ["PCI\\VEN_1106&DEV_3038&SUBSYS_12340925&REV_1A", "PCI\\VEN_1106&DEV_3038"]
VIA_DESC = "VIA Tech 3038 PCI to USB Universal Host Controller"
VIA_LINES = [catalogue.text(catalogue.MSG_HC_VENDOR_DEVICE) % ("Via Technologies", 0x1106, 0x3038),
             "\t" + VIA_DESC, ""]
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
    own); and what the window shows: lines together in the Details list, a text in none, the
    verdict supported. searched: the names the stand-in's log shows searched, one load each,
    too_small the reads that found their buffer too small; requests: instead, the driver
    requests of one controller whose name is never looked up."""
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


# HCD1 is the VIA controller, which the tree lists after the PIIX-4 at HCD6: the lines follow
# the device indexes.
TWO_CONTROLLERS = Case(
    "win98", [(1, UHCI_KEY_1), (6, UHCI_KEY_0)], {"tree": piix4_tree(UHCI_KEY_0, VIA_NODE)},
    VIA_LINES + PIIX4_LINES, searched=[UHCI_KEY_1, UHCI_KEY_0])
CASES = {
    "win98_one_controller": Case(
        "win98", [(0, UHCI_KEY_0)], {"tree": piix4_tree()}, PIIX4_LINES, absent=HC_UNIDENTIFIED,
        searched=[UHCI_KEY_0]),
    # The only candidate differs in letter case: the name is compared case-sensitively. The
    # chipset cannot be probed under Wine, so it rates exactly undetermined and the controller
    # is reported without a vendor.
    "node_absent": Case(
        "win98", [(0, UHCI_KEY_0)], {"tree": piix4_tree(UHCI_KEY_0.lower())},
        [HC_UNIDENTIFIED, ""], absent="Found Intel", searched=[UHCI_KEY_0]),
    "two_controllers_hcd1_hcd6": TWO_CONTROLLERS,
    # The search on Windows 2000 is the same as on 98.
    "win2k_two_controllers": replace(TWO_CONTROLLERS, windows="win2k"),
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
        {"tree": piix4_tree(UMLAUT_KEY)}, PIIX4_LINES, searched=[UMLAUT_KEY]),
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


def run_machine(run, case, driver, cfgmgr, folder):
    """Runs the program on the case's machine, with these builds of the test driver and the
    stand-in (unless the case has Wine's own), in folder, and holds the window to the simulator;
    returns the Details lines, the driver's (opens, requests), the stand-in's call log and the
    configuration managers loaded."""
    session = run.session
    mode = MODES[case.windows]
    record, registry_text = mode.record(), mode.registry if mode.family == "9x" else None
    hcds = [{"index": index, "driverKey": reply} for index, reply in case.hcds]
    expected = simulate(session.sim, {
        "version": record, "registry": {"9x": registry_text, "nt": session.nt_current_version},
        "ports": port_access(session, record), "hcd": hcds, "cfgmgr": case.cfgmgr}, folder)
    assert not (session.exe.parent / "CfgMgr32.dll").exists(), \
        "a test CfgMgr32.dll beside the product"
    exe = folder / EXE_NAME
    shutil.copyfile(session.exe, exe)
    # A CfgMgr32.dll beside the programs, as a downloads folder may hold one, is never loaded:
    # the stand-in is the system's.
    shutil.copyfile(cfgmgr, folder / "CfgMgr32.dll")
    tree, log = folder / "tree.txt", folder / "cfgmgr.log"
    if case.test_cfgmgr:
        write_tree_file(tree, case.cfgmgr)
    session.set_versions(case.windows, win9x_number=registry_text)
    configure_driver(session, driver, hcds)
    # The loader's trace tells which configuration manager the program loaded; Wine prefers its
    # built-in library unless told. The texts of these machines are code page 1252, as in the
    # simulator.
    overrides = "cfgmgr32=n" if case.test_cfgmgr else ""
    environment = {"LC_ALL": "C", "QORVALIN_CFGMGR_TREE": windows_path(tree)}
    with (system_library(session, "CfgMgr32.dll", cfgmgr) if case.test_cfgmgr else
          contextlib.nullcontext()) as stand_in:
        program = run.start("-all,err+all,+loaddll", overrides, exe,
                            dict(environment, QORVALIN_CFGMGR_LOG=windows_path(log)))
        main = run.continue_to_verdict(program)
        seen = observation.of_window(main)
        seen.frames = icon_frames(run, main)
        observation.check(seen, expected, parts=observation.SHOWN_PARTS + ("frames",))
        if case.supported:
            assert main.control(IDC_HEADLINE).text == catalogue.text(
                catalogue.MSG_HEADLINE_SUPPORTED)
            assert (expected["frames"], expected["verdict"]) == ("USBYES", "supported")
        panel = main.control(IDC_MORE_INFO).text
        assert catalogue.text(catalogue.MSG_INFO_HARDWARE_SUPPORTED) + "\r\n\r\n" in panel
        counts = driver_counts(session)
        assert run.close(program, main) == 0, "exit code after Close"
        loads = cfgmgr_loads(program.log)
        assert not [load for load in loads if windows_path(folder).lower() in load.lower()], \
            "the CfgMgr32.dll beside the program was loaded"
        if not case.test_cfgmgr:
            assert all(load.startswith("builtin ") for load in loads), loads
        calls = call_log(log, [load.lower() for load in loads],
                         stand_in.lower() if stand_in else None)
        assert not [c for c in calls if c.startswith("error")], "the test library read its tree"
        # QVDUMP, beside the same configuration manager and with a log of its own, records the
        # machine the program was shown on.
        qvdump = folder / QVDUMP_NAME
        shutil.copyfile(session.exe.parent / QVDUMP_NAME, qvdump)
        recorder = check_recording(
            run, main, folder, exe=qvdump, dll_overrides=overrides,
            env=dict(environment, QORVALIN_CFGMGR_LOG=windows_path(folder / "qvdump-cfgmgr.log")),
            wine_debug="-all,err+all,+loaddll")
        assert [load.lower() for load in cfgmgr_loads(recorder.log)] == (
            ["native " + stand_in.lower()] if stand_in else
            ["builtin c:\\windows\\system32\\cfgmgr32.dll"]), "QVDUMP's configuration manager"
    return main.control(IDC_DETAILS_LIST).items, counts, calls, loads


def check_search(search, tree, driver_key):
    """One search of the tree: the root located, the driver property read from each node in
    depth-first order up to the match, and on a match the hardware ID and the description read
    with the room the buffer has behind the TAB."""
    assert search, "calls between the library's load and free"
    assert search[0][:3] == ("CM_Locate_DevNodeA", {"id": "(null)", "flags": "0x0"}, 0)
    assert all(args.get("flags") == "0x0" for _, args, _, _ in search), search
    reads = [(int(args["property"]), int(args["length"]))
             for name, args, _, _ in search if name == "CM_Get_DevNode_Registry_PropertyA"]
    order = preorder_drivers(tree)
    found = driver_key in order
    visited = order[:order.index(driver_key) + 1] if found else order
    assert [r for r in reads if r[0] == 10] == [(10, 256)] * len(visited), search
    assert [r for r in reads if r[0] != 10] == ([(2, 256), (1, 255)] if found else [])


def run_case(run, case, driver, cfgmgr, folder):
    """Runs the case as run_machine does, in folder made afresh, and checks it; stops the driver
    afterwards, so that no other test sees its devices."""
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
    # The lines stand together, in this order, exactly once in the Details list.
    n = len(case.lines)
    assert [details[i:i + n] for i in range(len(details) - n + 1)].count(case.lines) == 1, details
    if case.absent is not None:
        assert not [line for line in details if case.absent in line], details
    if case.searched is None:
        # One controller and no name for it: the stand-in never loaded nor called; with a
        # name to look up, Wine's own configuration manager, which locates no root.
        assert counts == (1, case.requests), "driver opens and requests"
        assert calls == []
        assert [load.split(" ")[0] for load in loaded] == ([] if case.test_cfgmgr else
                                                           ["builtin"])
        return
    keys = case.searched
    assert counts == (len(keys), len(keys)), "driver opens and requests"
    searches = library_loads(calls)
    assert len(searches) == len(keys), "library loads, one per named controller"
    for search, key in zip(searches, keys):
        check_search(search, case.cfgmgr["tree"], key)
    assert [(args["property"], outs["length"]) for search in searches
            for _, args, result, outs in search if result == CR_BUFFER_SMALL] == case.too_small


@pytest.mark.parametrize("name", CASES)
def test_hcpath(run, built, name):
    run_case(run, CASES[name], built("qorvalin_hcdriver"), built("qorvalin_test_cfgmgr"),
             run.session.work / "hcpath" / name)
