"""Runs inside the test guest: one Wine session on a virtual display, then every run of a plan,
each run's report written to a file."""

import glob
import json
import os
import subprocess
import sys
import time
import traceback

import wine

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

WINE = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver32"
PREFIX = "/opt/qorvalin/prefix"

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

# Under emulation Wine's first start in a boot (wineboot's services, the desktop) takes 10 to 20
# s, several times that when the host is busy; it is waited for as long as the guest keeps
# working, and taken as hung once the guest's CPU has been idle for HANG_SECONDS. The harness's
# own waits (a reader's or the program's start, a window) are moved on the same way past their
# limits on the host, as far as wine.WORKING_GRACE.
HANG_SECONDS = 60
BUSY_SHARE = 0.2


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
    state["wine64"] = WINE
    state["wine_command"] = [wrapper, WINE] if ports == "granted" else [WINE]
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


def busy_ticks():
    """The guest CPU's time so far, in clock ticks: (working, in all)."""
    with open("/proc/stat") as f:
        ticks = [int(n) for n in f.readline().split()[1:]]
    return sum(ticks) - ticks[3] - ticks[4], sum(ticks)


def processes():
    """What runs in the guest, one line a process: its id, state, CPU seconds and command."""
    ticks = os.sysconf("SC_CLK_TCK")
    lines = []
    for pid in sorted(int(p) for p in os.listdir("/proc") if p.isdigit()):
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rpartition(")")[2].split()
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("latin-1").strip()
        except OSError:
            continue
        if command:
            lines.append("%6d %s %7.1f s  %s" % (pid, fields[0],
                                                 (int(fields[11]) + int(fields[12])) / ticks,
                                                 command[:160]))
    return "\n".join(lines)


def working_watch():
    """A watch that says whether the guest still works: true until its CPU has been idle (busy
    less than BUSY_SHARE of the time since the watch last looked) for HANG_SECONDS."""
    seen = {"ticks": busy_ticks(), "busy": time.monotonic()}

    def still_working():
        working, total = busy_ticks()
        was_working, was_total = seen["ticks"]
        if working - was_working > BUSY_SHARE * (total - was_total):
            seen["busy"] = time.monotonic()
        seen["ticks"] = (working, total)
        return time.monotonic() - seen["busy"] < HANG_SECONDS

    return still_working


def wait_working(child, what, log):
    """Waits for the child to end while the guest works; a child that the guest has stopped
    working for is killed, and the failure names what ran and what Wine said."""
    started = time.time()
    still_working = working_watch()
    while child.poll() is None:
        time.sleep(1)
        if not still_working():
            running = processes()
            child.kill()
            child.wait()
            with open(log, encoding="latin-1") as f:
                said = f.read()[-2000:]
            raise wine.Failure("%s hung: the guest's CPU idle for %d s, %.0f s after it began. "
                               "Its processes:\n%s\nWine's last messages:\n%s"
                               % (what, HANG_SECONDS, time.time() - started, running, said))
    if child.returncode != 0:
        raise wine.Failure("%s ended with status %d" % (what, child.returncode))
    return time.time() - started


def start_wine(state):
    """Wine's first start in the boot, by a one-off look of the window reader at the windows: it
    brings up wineboot's services and the desktop that every later start finds running."""
    log = wine.log_path(state, "wine-start.log")
    with open(log, "wb") as out:
        child = subprocess.Popen(wine.wine_command(state) + [state["winspy"], wine.EXE_NAME],
                                 env=wine.wine_environment(state), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=out)
    return wait_working(child, "Wine's first start in the guest", log)


def start_reader(state):
    """The session's window reader for Wine's current command, started by a look at the windows
    that may take a process start, so that the requests after it need none."""
    wine.ask_reader(state, "windows " + wine.EXE_NAME)


def start_session(io, timings):
    work = "/tmp/work"
    os.makedirs(work, exist_ok=True)
    os.environ["QORVALIN_HCDRIVER"] = os.path.join(io, "helpers", "hcdtest.sys")
    os.environ["QORVALIN_TEST_CFGMGR"] = os.path.join(io, "helpers", "CfgMgr32.dll")
    state = {"work": work, "exe": os.path.join(io, wine.EXE_NAME),
             "winspy": os.path.join(io, "winspy.exe"), "sim": os.path.join(io, "helpers", "qorvalin-sim"),
             "prefix": PREFIX, "wineserver": WINESERVER, "wine64": WINE,
             "still_working": working_watch()}
    state["xvfb_pid"], state["display"] = wine.start_xvfb()
    wine.start_server(state)
    timings["wine"] = round(start_wine(state), 1)
    print("Wine started in %.1f s" % timings["wine"], flush=True)
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
    with open("/proc/uptime") as f:
        timings = {"boot": float(f.read().split()[0])}
    print("the guest's kernel to its job: %.1f s" % timings["boot"], flush=True)
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
    print("session ready after %.1f s" % timings["session"], flush=True)
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
