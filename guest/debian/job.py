"""Runs inside the Debian guest, from the shared folder's copy of the clone: each run of a plan
in the guest's Wine session, said on the channel."""

import glob
import json
import os
import sys
import time
import traceback

from guest.debian import session as debian_session
from harness import Failure, build, sim, window
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


def report_run(session, item, say):
    """The program in the item's mode: Wine's version record and registry texts, the windows
    after Continue, the exit code after Close and the faults it caught; then QVDUMP.EXE's
    recording of the same machine, started with the same access to the ports."""
    mode = MODES[item["windows"]]
    nt, win9x = ((session.nt_current_version, mode.registry) if mode.family == "9x" else
                 (mode.registry, None))
    session.set_versions(item["windows"], nt, win9x)
    say("version", json.dumps(session.version_record()))
    say("registry", json.dumps({"nt": nt, "9x": win9x}))
    run = Run(session, item["name"])
    program = run.start(wine_debug="-all,err+all,+seh")
    try:
        main = run.continue_to_verdict(program)
        windows = [line for line in run.last_snapshot.splitlines() if line]
        code = run.close(program, main)
        recording = session.work / (item["name"] + ".txt")
        qvdump = sim.record(run, recording)[0]
    finally:
        run.stop_all()
    say("snapshot", "verdict")
    for line in windows + ["end"]:
        say(line)
    say("exit", "code=%d" % code)
    say("qvdump", "exit=%d" % qvdump)
    with open(recording, encoding="latin-1", newline="") as f:
        for line in f.read().splitlines():
            say("scenario", window.escape(line))
    with open(program.log, encoding="latin-1") as f:
        say("faults", str(sum(FAULT_TRACE in line for line in f)))


def case_run(session, item, say):
    """One of the host controller path's cases (tests/e2e/test_hcpath.py), checked here."""
    run = Run(session, item["name"])
    session.reset_versions()
    try:
        test_hcpath.run_case(run, test_hcpath.CASES[item["case"]],
                             build.path("qorvalin_hcdriver_i686"),
                             build.path("qorvalin_test_cfgmgr_i686"), session.work / item["name"])
        say("case", "passed")
    except (Failure, AssertionError) as e:
        say("case", "failed\t" + window.escape(str(e) or repr(e)))
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
        def say(*fields):
            """One record: its kind and text, or a line of the window reader's as it is."""
            channel.write("\t".join(fields) + "\n")
            channel.flush()

        say("pci", json.dumps(pci_functions()))
        started = time.time()
        try:
            session, timings = start_session(io)
        except Exception:
            why = "the guest's Wine session did not start:\n" + traceback.format_exc()
            for item in plan:
                say("run", "name=" + item["name"])
                say("error", window.escape(why))
            return 0
        timings["session"] = round(time.time() - started, 1)
        say("timings", json.dumps(timings))
        for item in plan:
            use_ports(session, item.get("ports", "granted"), os.path.join(io, "ports"))
            started = time.time()
            say("run", "name=" + item["name"])
            try:
                (case_run if "case" in item else report_run)(session, item, say)
            except Exception:
                say("error", window.escape(traceback.format_exc()))
            say("seconds", "%.1f" % (time.time() - started))
        session.server("-k")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
