"""The vm tests: one boot of the Debian guest per board, each run of the board's plan in it
(harness/boards.json) held to qorvalin-sim's report for the machine the guest presented and to
the replay of QVDUMP.EXE's recording of it; with the ports granted, QVDUMP records the PCI
functions the board presents."""

import json
import time

import pytest

from harness import (boards, build, catalogue, debian_guest, guest, observation, recordings, sim,
                     window)
from harness.modes import MODES

# Every line of the chipset probe's findings.
CHIPSET_LINES = (catalogue.MSG_PIIX3_BRIDGE, catalogue.MSG_PIIX3_USB_ENABLED,
                 catalogue.MSG_PIIX3_USB_DISABLED, catalogue.MSG_PIIX4_USB,
                 catalogue.MSG_OPTI_USB, catalogue.MSG_ALI_USB)
RUNS = [(board, item) for board in boards.of("debian") for item in debian_guest.plan(board)]


@pytest.fixture(scope="module")
def boot(board):
    """The board's one boot with every run of its plan, which pytest keeps (or its failure) for
    the board's cases."""
    folder = build.FOLDER / "tests" / "vm" / board
    started = time.time()
    said = debian_guest.run_plan(board, debian_guest.plan(board), build.path("win32_exe"), folder)
    timings = said.get("timings", {})
    print("boot and runs on %s: %.0f s (the window reader and the registry's values %.1f s; in "
          "the boot that made the state, the kernel to its Wine session %.1f s, Wine's first "
          "start %.1f s)" % (board, time.time() - started, timings.get("session", 0),
                             timings.get("boot", 0), timings.get("wine", 0)))
    return said


def scenario(result, ports, pci):
    """The machine the guest presented: Wine's version record and registry texts, and the PCI
    functions where the program may reach them."""
    machine = sim.scenario(result["version"], result["registry"]["nt"], result["registry"]["9x"],
                           "denied" if ports == "denied" else "allowed")
    if ports == "granted":
        machine["pci"] = [{"device": int(address[3:5], 16), "function": int(address[6]),
                           "id": "0x%08X" % ident} for address, ident in pci]
    # Emulated: Wine reads all ones and raises nothing the program sees.
    return machine


@pytest.mark.parametrize("board, item", RUNS, ids=["%s/%s" % (b, i["name"]) for b, i in RUNS],
                         scope="module")
def test_run(boot, board, item, tmp_path):
    said = boot
    result = said["runs"].get(item["name"], {"error": "the guest said nothing of this run"})
    assert "error" not in result, result["error"]
    if "case" in item:
        status, _, message = result["case"].partition("\t")
        assert status == "passed", window.unescape(message)
        return
    seen = observation.of_run(result, guest.recording(result))
    expected = sim.simulate(build.path("sim"), scenario(result, item["ports"], said["pci"]),
                            tmp_path)
    observation.check(seen, expected)
    assert seen.exit == 0, "exit code after Close"
    recording = tmp_path / "recording.txt"
    recording.write_text(seen.recording, encoding="latin-1")
    observation.check(seen, sim.replay(build.path("sim"), recording),
                      "the replay of QVDUMP's recording")
    if item["ports"] == "granted" and ("debian", board, item["windows"]) in recordings.kept():
        differing = recordings.differences(seen.recording, "debian", board, item["windows"])
        assert not differing, ("QVDUMP's recording is not the one kept (python3 -m tools.guest "
                               "refresh keeps it anew):\n" + "\n".join(differing))
    nine_x = MODES[item["windows"]].family == "9x"
    if nine_x and item["ports"] == "granted":
        recorded = [(f["device"], f["function"], int(f["id"], 16))
                    for f in json.loads(seen.recording).get("pci", [])]
        presented = [(int(address[3:5], 16), int(address[6]), ident)
                     for address, ident in said["pci"]]
        assert sorted(recorded) == sorted(presented), "the PCI functions QVDUMP recorded"
    details = [window.unescape(line) for line in seen.detail]
    shown = [n for line in details for n in CHIPSET_LINES if catalogue.text(n) == line]
    wanted = boards.BOARDS[board]["debian"]["chipset"] if nine_x and item["ports"] == "granted" \
        else []
    assert shown == [getattr(catalogue, symbol) for symbol in wanted], "chipset lines"
    faults = int(expected["ports"].split("faults=")[1])
    if item["ports"] != "emulated":
        assert int(result["faults"]) == faults, "faults caught, against the simulator"
    if item["ports"] == "denied" and nine_x:
        assert int(result["faults"]) == 1, "faults caught by the program's guard"

