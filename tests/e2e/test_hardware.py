"""Under Wine: the chipset probe's port access, denied by wine64, emulated by 32-bit Wine."""

import re
from pathlib import Path

import pytest

from harness import catalogue as c
from harness import observation, sim
from harness.catalogue import IDC_DETAILS_LIST, IDC_MORE_INFO, text
from harness.modes import MODES
from harness.window import EXE_NAME
from harness.wine import DEFAULT

PRIVILEGED_INSTRUCTION = "c0000096"

# name: (Wine's Version, NT "CurrentVersion", 9x "VersionNumber", port faults when the ports are
#        denied, hardware paragraph). Off the NT platform the chipset probe writes the first
# configuration address; where that faults, the probe touches no port again. On NT it touches
# none. No \\.\HCD device opens: "not supported" hardware, except on 9x 4.0 and NT 4
# (undetermined); with every read all ones no chipset is found either, the same ratings.
NO, UNKNOWN = c.MSG_INFO_HARDWARE_NOT_SUPPORTED, c.MSG_INFO_HARDWARE_UNKNOWN
CASES = {
    "win95": ("win95", DEFAULT, MODES["win95"].registry, 1, UNKNOWN),
    "win98": ("win98", DEFAULT, MODES["win98"].registry, 1, NO),
    "winme": ("winme", DEFAULT, MODES["winme"].registry, 1, NO),
    "derived_4_0_1300": (None, None, "4.0.1300", 1, UNKNOWN),
    "nt40": ("nt40", DEFAULT, None, 0, UNKNOWN),
    "win2k": ("win2k", DEFAULT, None, 0, NO),
    "winxp": ("winxp", DEFAULT, None, 0, NO),
    "win7": ("win7", DEFAULT, None, 0, NO),
    "win10": ("win10", DEFAULT, None, 0, NO),
}


def port_exceptions(log):
    """The privileged-instruction exceptions Wine dispatched: the registers that tell which
    port and value the instruction had, and the module whose handler (vectored or a stack
    frame's) let the program go on: the program's guard, or Wine's emulation in krnl386.exe16;
    from the traces of Wine's seh and loaddll channels."""
    modules, found = [], []
    for line in Path(log).read_text(encoding="latin-1").splitlines():
        if loaded := re.search(r':trace:loaddll:\w+ Loaded L"(.*)" at ([0-9A-Fa-f]+): ', line):
            modules.append((int(loaded.group(2), 16),
                            loaded.group(1).rpartition("\\")[2].lower()))
        elif "dispatch_exception code=" in line:
            found.append({"code": PRIVILEGED_INSTRUCTION in line, "registers": {},
                          "handled_by": None})
        elif found and "trace:seh:dispatch_exception " in line:
            found[-1]["registers"].update(
                (name[1:], int(value, 16))
                for name, value in re.findall(r"\b([re][a-z0-9]{2})=([0-9a-fA-F]+)", line))
        elif found and "_handlers handler at" in line:
            # A vectored handler says "go on" with -1, a frame's handler with 0.
            handler = re.search(r"call_(vectored|stack)_handlers handler at ([0-9A-Fa-f]+) "
                                r"returned (ffffffff|0)$", line)
            if handler and (handler.group(1) == "vectored") == (handler.group(3) != "0"):
                address = int(handler.group(2), 16)
                below = [(base, name) for base, name in modules if base <= address]
                found[-1]["handled_by"] = max(below)[1] if below else None
    return [e for e in found if e["code"]]


def check_run(run, name, dll_overrides=""):
    """One run in the case's mode, with these DLL overrides: the window and the port accesses
    Wine saw, against the simulator; returns the port access and the faults the guard caught."""
    _, nt, win9x, _, hardware_paragraph = CASES[name]
    program = run.start(wine_debug="-all,err+all,+seh,+loaddll", dll_overrides=dll_overrides)
    main = run.continue_to_verdict(program)
    panel = main.control(IDC_MORE_INFO).text
    assert panel.endswith(text(hardware_paragraph) + "\r\n\r\n"
                          + text(c.MSG_INFO_PHYSICAL_PORT) + "\r\n\r\n"), \
        "the hardware paragraph %d comes right before the closing one" % hardware_paragraph
    assert len(main.control(IDC_DETAILS_LIST).items) == 4, \
        "Details lines (no chipset or controller findings under Wine)"
    machine = sim.wine_scenario(run.session, nt, win9x, dll_overrides)
    ports = machine["ports"]
    report = sim.simulate(run.session.sim, machine, run.session.work)
    observation.check(observation.of_window(main), report)
    assert run.close(program, main) == 0, "exit code after Close"
    writes, reads, faults = (int(n) for n in re.match(r"writes=(\d+) reads=(\d+) faults=(\d+)$",
                                                      report["ports"]).groups())
    seen = port_exceptions(program.log)
    caught = [e for e in seen if e["handled_by"] == EXE_NAME.lower()]
    emulated = [e for e in seen if e["handled_by"] == "krnl386.exe16"]
    assert {e["handled_by"] for e in seen} <= {EXE_NAME.lower(), "krnl386.exe16"}, \
        "privileged-instruction faults that the program's guard or Wine's emulation handled"
    assert len(caught) == faults, "faults caught by the program, against the simulator"
    assert len(emulated) == (writes + reads if ports == "allowed" else 0), \
        "port instructions Wine emulated, against the simulator's %s" % report["ports"]
    if caught:
        # The first configuration address, device 0 function 0, written to 0xCF8.
        registers = caught[0]["registers"]
        assert (registers.get("dx", 0) & 0xFFFF, registers.get("ax", 0) & 0xFFFFFFFF) == \
            (0xCF8, 0x80000000), "port and value of the faulting write"
    return ports, len(caught)


@pytest.mark.parametrize("name", CASES)
def test_hardware(run, name):
    version, nt, win9x, denied_faults, _ = CASES[name]
    run.session.set_versions(version, nt, win9x)
    ports, caught = check_run(run, name)
    if ports == "allowed":
        # Where Wine emulates the ports, the guard is seen with the emulation off: the program
        # as under a Windows 9x compatibility mode of NT.
        ports, caught = check_run(run, name, sim.PORT_EMULATION_OFF)
        assert ports == "denied", "the ports with Wine's emulation off"
    assert caught == denied_faults, "faults caught with the ports denied"
