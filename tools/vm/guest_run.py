"""Runs inside the test guest, in the Wine session that the guest started before its job
(tools/vm/session.py): every run of a plan, each run's report written to a file."""

import glob
import json
import os
import sys
import time
import traceback

import session
from harness import wine

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Each mode: Wine's Version, and the version text that release's own installation keeps in the
# registry ("9x": VersionNumber, "nt": CurrentVersion).
MODES = {
    "win95": ("9x", "4.00.950"), "win98": ("9x", "4.10.2222"), "winme": ("9x", "4.90.3000"),
    "nt40": ("nt", "4.0"), "win2k": ("nt", "5.0"), "winxp": ("nt", "5.1"),
    "win7": ("nt", "6.1"), "win10": ("nt", "6.3"),
}
PORTS = ("granted", "emulated", "denied")
DENIED_OVERRIDE = "krnl386.exe16=d"
FAULT_TRACE = "trace:seh:dispatch_exception code=c0000096"


def registry_texts(state, windows):
    """(NT CurrentVersion, 9x VersionNumber) for the mode; the other value stays as the prefix
    has it."""
    member, text = MODES[windows]
    if member == "9x":
        return state["nt_current_version"], text
    return text, None


def pci_functions():
    """Bus 0's PCI functions as the guest's kernel sees them: ("BB:DD.F", register 0)."""
    found = []
    for path in sorted(glob.glob("/sys/bus/pci/devices/0000:00:*")):
        with open(os.path.join(path, "vendor")) as f:
            vendor = int(f.read(), 16)
        with open(os.path.join(path, "device")) as f:
            device = int(f.read(), 16)
        found.append((os.path.basename(path)[5:], device << 16 | vendor))
    return found


def use_ports(state, ports, wrapper):
    """Granted: Wine runs under the port-access wrapper. Emulated: Wine's own emulation of
    in/out in 9x modes. Denied: that emulation off, so the fault reaches the program."""
    state["wine64"] = session.WINE
    state["wine_command"] = [wrapper, session.WINE] if ports == "granted" else [session.WINE]
    state["dll_overrides"] = DENIED_OVERRIDE if ports == "denied" else ""


def report_run(state, item):
    nt, win9x = registry_texts(state, item["windows"])
    wine.set_versions(state, item["windows"], nt, win9x)
    record = wine.version_record(state)
    run = wine.Run(state, item["name"])
    program = run.start(wine_debug="-all,err+all,+seh")
    try:
        main = run.continue_to_verdict(program)
        result = {
            "headline": main.control(wine.IDC_HEADLINE).raw_text,
            "panel": main.control(wine.IDC_MORE_INFO).raw_text,
            "detail": main.control(wine.IDC_DETAILS_LIST).raw_items,
        }
        result["exit"] = run.close(program, main)
    finally:
        run.stop_all()
    with open(program.log, encoding="latin-1") as f:
        result["faults"] = sum(FAULT_TRACE in line for line in f)
    result.update({"version": record, "registry": {"nt": nt, "9x": win9x}})
    return result


def case_run(state, item):
    """One case of a test script, as CTest would run it under wine64."""
    module = wine.load_script(os.path.join(SOURCE, item["script"]))
    cases = module.guest_cases() if hasattr(module, "guest_cases") else module.CASES
    run = wine.Run(state, item["name"])
    wine.reset_versions(state)
    try:
        cases[item["case"]](run)
        return {"passed": True}
    except (wine.Failure, wine.Skipped) as e:
        return {"passed": False, "message": "%s: %s" % (type(e).__name__, e)}
    finally:
        run.stop_all()
        wine.reset_versions(state)


def start_reader(state):
    """The session's window reader for Wine's current command, started by a look at the windows
    that may take a process start, so that the requests after it need none."""
    wine.ask_reader(state, "windows " + wine.EXE_NAME)


def start_session(io, timings):
    """The harness's state for the guest's Wine session, which the guest started before its job
    (tools/vm/session.py), with the session's reader and the prefix's registry values."""
    with open(session.SESSION) as f:
        started = json.load(f)
    timings.update(boot=started["boot"], wine=started.get("wine", 0))
    if "error" in started:
        raise wine.Failure(started["error"])
    print("in the boot that made the guest's state: the kernel to its session %.1f s, Wine's "
          "first start %.1f s" % (timings["boot"], timings["wine"]), flush=True)
    work = "/tmp/work"
    os.makedirs(work, exist_ok=True)
    os.environ["QORVALIN_HCDRIVER"] = os.path.join(io, "helpers", "hcdtest.sys")
    os.environ["QORVALIN_TEST_CFGMGR"] = os.path.join(io, "helpers", "CfgMgr32.dll")
    state = {"work": work, "exe": os.path.join(io, wine.EXE_NAME),
             "winspy": os.path.join(io, "winspy.exe"),
             "sim": os.path.join(io, "helpers", "qorvalin-sim"),
             "prefix": session.PREFIX, "wineserver": session.WINESERVER, "wine64": session.WINE,
             "xvfb_pid": started["xvfb_pid"], "display": started["display"],
             "still_working": session.working_watch()}
    start_reader(state)
    wine.write_value(state, wine.X11_KEY, "Managed", "N")
    state["nt_current_version"] = wine.query_value(state, wine.NT_KEY, "CurrentVersion")
    state["win9x_version_number"] = wine.query_value(state, wine.WIN9X_KEY, "VersionNumber")
    return state


def main(io, plan_path, out):
    with open(plan_path) as f:
        plan = json.load(f)
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "pci.json"), "w") as f:
        json.dump(pci_functions(), f)
    timings = {}
    started = time.time()
    try:
        state = start_session(io, timings)
    except Exception:
        state = None
        session_error = "the guest's Wine session did not start:\n" + traceback.format_exc()
        print(session_error, flush=True)
    timings["session"] = round(time.time() - started, 1)
    with open(os.path.join(out, "timings.json"), "w") as f:
        json.dump(timings, f)
    if state is None:
        # Every run's result says why none ran.
        for item in plan:
            with open(os.path.join(out, item["name"] + ".json"), "w") as f:
                json.dump({"error": session_error, "seconds": 0}, f, indent=1)
        return 0
    print("the window reader and the registry's values after %.1f s" % timings["session"],
          flush=True)
    wrapper = os.path.join(io, "ports")
    for item in plan:
        use_ports(state, item.get("ports", "granted"), wrapper)
        started = time.time()
        try:
            start_reader(state)
            result = (case_run if "case" in item else report_run)(state, item)
        except Exception:
            result = {"error": traceback.format_exc()}
        result["seconds"] = round(time.time() - started, 1)
        with open(os.path.join(out, item["name"] + ".json"), "w") as f:
            json.dump(result, f, indent=1)
        print("%s: %s after %.1f s" % (item["name"], "error" if "error" in result else "done",
                                        result["seconds"]), flush=True)
    wine.server(state, "-k")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
