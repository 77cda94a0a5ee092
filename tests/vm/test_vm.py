"""The vm tests: one boot of the test guest per board, several runs of the i686 program under
32-bit Wine in it, each held to qorvalin-sim's report for the same machine."""

import json
import os
import shutil
import subprocess
import sys
import time

from harness import wine

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MODES = wine.load_script(os.path.join(ROOT, "tools", "vm", "guest_run.py")).MODES

MSG = wine.catalogue()
CHIPSET_LINES = (1058, 1059, 1060, 1061, 1062)
# The chipset lines each board deserves when the program may use the ports.
BOARD_LINES = {"pc": [1058, 1060], "piix3-usb-uhci": [1058, 1059],
               "piix4-usb-uhci": [1058, 1060, 1061], "q35": []}
CASES = "tests/vm/guest_cases.py"

# Per board, the runs of its one boot: (windows, ports) reports and named cases. The shell's
# checks, which touch no port, run on the i686 program under 32-bit Wine on the host
# (e2e.i686.shell.*). The host controller path stays here: on Windows 98 behind a port fault
# that the program caught, and Windows 2000's two controllers, a case of the guest's own.
PLANS = {
    "pc": [("win98", "granted"), ("win95", "granted"), ("winme", "granted"),
           ("nt40", "granted"), ("win2k", "granted")],
    "piix3-usb-uhci": [("win98", "granted"), ("win98", "emulated"), ("win98", "denied")],
    "piix4-usb-uhci": [("win98", "granted"), ("hcpath.win98_one_controller", "denied"),
                       ("hcpath.win2k_two_controllers", "denied")],
    "q35": [("win98", "granted")],
}


def plan_of(board):
    plan = []
    for item in PLANS[board]:
        name, ports = item if isinstance(item, tuple) else (item, "granted")
        if name in MODES:
            plan.append({"name": "%s-%s" % (name, ports), "windows": name, "ports": ports})
        else:
            plan.append({"name": name, "script": CASES, "case": name, "ports": ports})
    return plan


def scenario_of(result, ports, pci):
    scenario = wine.wine_scenario(result["version"], result["registry"]["nt"],
                                  result["registry"]["9x"])
    if ports == "granted":
        scenario["ports"] = "allowed"
        scenario["pci"] = [{"device": int(address[3:5], 16), "function": int(address[6]),
                            "id": "0x%08X" % ident} for address, ident in pci]
    elif ports == "emulated":
        # Wine's emulation reads all ones and raises nothing the program sees.
        scenario["ports"] = "allowed"
    return scenario


def check_report(state, board, item, result, pci):
    check, check_equal = wine.check, wine.check_equal
    expected = wine.simulate(state, scenario_of(result, item["ports"], pci))
    for key in ("headline", "panel", "detail"):
        check_equal(result[key], expected[key], "%s against the simulator" % key)
    check_equal(result["exit"], 0, "exit code after Close")
    nine_x = MODES[item["windows"]][0] == "9x"
    lines = [n for n in CHIPSET_LINES if MSG[n] in map(wine.unescape, result["detail"])]
    wanted = BOARD_LINES[board] if nine_x and item["ports"] == "granted" else []
    check_equal(lines, wanted, "chipset lines")
    faults = int(expected["ports"].split("faults=")[1])
    if item["ports"] != "emulated":
        check_equal(result["faults"], faults, "faults caught, against the simulator")
    if item["ports"] == "denied" and nine_x:
        check_equal(result["faults"], 1, "faults caught by the program's guard")


def main(board):
    exe = os.environ.get("QORVALIN_WIN32_EXE", "")
    state = {"sim": os.environ.get("QORVALIN_SIM", ""), "work": os.environ["QORVALIN_VM_DIR"]}
    reasons = [what for what, ok in (
        ("the i686 program %s has not been built" % exe, os.path.isfile(exe)),
        ("qemu-system-x86_64 is not installed", shutil.which("qemu-system-x86_64")),
        ("the simulator has not been built", os.path.isfile(state["sim"]))) if not ok]
    if reasons:
        print("SKIP: " + "; ".join(reasons))
        return wine.SKIP
    work = os.path.join(state["work"], board)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    state["work"] = work
    plan = plan_of(board)
    with open(os.path.join(work, "plan.json"), "w") as f:
        json.dump(plan, f, indent=1)
    image = subprocess.run(["bash", os.path.join(ROOT, "tools", "vm", "image.sh")],
                           stdout=subprocess.PIPE)
    if image.returncode == 3:
        print("SKIP: the test guest cannot be built here (see above)")
        return wine.SKIP
    if image.returncode != 0:
        print("FAIL: building the test guest failed (status %d)" % image.returncode)
        return 1
    started = time.time()
    out = os.path.join(work, "results")
    status = subprocess.run(["bash", os.path.join(ROOT, "tools", "vm.sh"), "plan", "--board",
                             board, os.path.join(work, "plan.json"), out, exe]).returncode
    if status != 0:
        print("FAIL: the guest's boot failed (status %d)" % status)
        return 1
    with open(os.path.join(out, "timings.json")) as f:
        timings = json.load(f)
    print("boot and %d runs on %s: %.0f s (the window reader and the registry's values %.1f s; "
          "in the boot that made the guest's state on the board, the kernel to its Wine session "
          "%.1f s, Wine's first start %.1f s)"
          % (len(plan), board, time.time() - started, timings["session"], timings.get("boot", 0),
             timings.get("wine", 0)))
    with open(os.path.join(out, "pci.json")) as f:
        pci = json.load(f)
    failed = 0
    for item in plan:
        with open(os.path.join(out, item["name"] + ".json")) as f:
            result = json.load(f)
        try:
            wine.check("error" not in result, "the run failed in the guest:\n%s"
                       % result.get("error"))
            if "case" in item:
                wine.check(result["passed"], result.get("message", ""))
            else:
                check_report(state, board, item, result, pci)
            print("PASS %s (%.1f s)" % (item["name"], result["seconds"]))
        except wine.Failure as e:
            failed += 1
            print("FAIL %s: %s" % (item["name"], e))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
