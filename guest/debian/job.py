"""Runs inside the Debian guest, from the shared folder's copy of the clone: each run of a plan
in the guest's Wine session, said on the channel."""

import glob
import json
import os
import sys
import time
import traceback

from guest.debian import session as debian_session
from harness import Failure, build, observation, sim
from harness.modes import MODES
from harness.user import Run
from harness.wine import Session
from tests.e2e import test_hcpath

FAULT_TRACE = "trace:seh:dispatch_exception code=c0000096"


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


def use_ports(session, ports, wrapper):
    session.command = ([wrapper] if ports == "granted" else []) + [debian_session.WINE]
    session.dll_overrides = sim.PORT_EMULATION_OFF if ports == "denied" else ""


def report_run(session, item):
    """The program in the item's mode: what its window shows after Continue, the faults it
    caught, and the machine Wine presented; then QVDUMP.EXE's recording of the same machine,
    started with the same access to the ports."""
    mode = MODES[item["windows"]]
    nt, win9x = ((session.nt_current_version, mode.registry) if mode.family == "9x" else
                 (mode.registry, None))
    session.set_versions(item["windows"], nt, win9x)
    record = session.version_record()
    run = Run(session, item["name"])
    program = run.start(wine_debug="-all,err+all,+seh")
    try:
        main = run.continue_to_verdict(program)
        seen = observation.of_window(main)
        seen.exit = run.close(program, main)
        recording = session.work / (item["name"] + ".txt")
        result = {"qvdump": sim.record(run, recording)[0]}
        with open(recording, encoding="latin-1") as f:
            seen.recording = f.read()
        result["observation"] = seen.as_dict()
    finally:
        run.stop_all()
    with open(program.log, encoding="latin-1") as f:
        result["faults"] = sum(FAULT_TRACE in line for line in f)
    result.update({"version": record, "registry": {"nt": nt, "9x": win9x}})
    return result


def case_run(session, item):
    """One of the host controller path's cases (tests/e2e/test_hcpath.py), checked here."""
    run = Run(session, item["name"])
    session.reset_versions()
    try:
        test_hcpath.run_case(run, test_hcpath.CASES[item["case"]],
                             build.path("qorvalin_hcdriver_i686"),
                             build.path("qorvalin_test_cfgmgr_i686"), session.work / item["name"])
        return {"passed": True}
    except (Failure, AssertionError) as e:
        return {"passed": False, "message": str(e) or repr(e)}
    finally:
        session.reset_versions()


def start_session(io):
    """The harness's session for the Wine session the guest started before its job, its
    window reader started and the prefix's registry values read."""
    with open(debian_session.SESSION) as f:
        started = json.load(f)
    timings = {"boot": started["boot"], "wine": started.get("wine", 0)}
    if "error" in started:
        raise Failure(started["error"])
    session = Session("/tmp/work", "i686", os.path.join(io, "Qorvalin.exe"),
                      build.path("qorvalin_winspy_i686"), build.path("sim"),
                      prefix=debian_session.PREFIX, display=started["display"],
                      loader=debian_session.WINE, wineserver=debian_session.WINESERVER,
                      still_working=debian_session.working_watch())
    session.ready()
    return session, timings


def main(io):
    with open(os.path.join(io, "plan.json")) as f:
        plan = json.load(f)
    with open(debian_session.CHANNEL, "w") as channel:
        def say(kind, what):
            channel.write("%s\t%s\n" % (kind, json.dumps(what)))
            channel.flush()

        say("pci", pci_functions())
        started = time.time()
        try:
            session, timings = start_session(io)
        except Exception:
            why = "the guest's Wine session did not start:\n" + traceback.format_exc()
            for item in plan:
                say("result", dict(item, error=why, seconds=0))
            return 0
        timings["session"] = round(time.time() - started, 1)
        say("timings", timings)
        for item in plan:
            use_ports(session, item.get("ports", "granted"), os.path.join(io, "ports"))
            started = time.time()
            try:
                result = (case_run if "case" in item else report_run)(session, item)
            except Exception:
                result = {"error": traceback.format_exc()}
            say("result", dict(result, name=item["name"], seconds=round(time.time() - started, 1)))
        session.server("-k")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
