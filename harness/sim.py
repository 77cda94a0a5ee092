"""What the program should show under Wine: qorvalin-sim's report on the machine Wine presents."""

import json
import os
import subprocess
from pathlib import Path

from harness import Failure, Unavailable, check, check_equal, observation
from harness.window import QVDUMP_NAME
from harness.wine import DEFAULT, raw_bytes, windows_path

# What 32-bit Wine loads for a program in a Windows 9x mode, and what emulates the program's in
# and out instructions there; with it disabled they fault, as under wine64 in every mode.
PORT_EMULATION_OFF = "krnl386.exe16=d"


def port_access(session, record, dll_overrides=""):
    """The port access Wine gives the program (a scenario's "ports") on the machine of this
    version record: 32-bit Wine emulates in and out in the 9x modes, with no device behind them,
    every read giving all ones, unless the session's or these DLL overrides disable it; wine64
    faults every one."""
    overrides = (session.dll_overrides + ";" + dll_overrides).split(";")
    emulated = (session.arch == "i686" and record is not None and record["platform"] == 1
                and PORT_EMULATION_OFF not in overrides)
    return "allowed" if emulated else "denied"


def scenario_value(value):
    """A registry value as a scenario holds it: a text or None as it is, else its bytes."""
    return value if value is None or isinstance(value, str) else {"bytes": raw_bytes(value).hex()}


def scenario(record, nt_current, win9x_number, ports="denied"):
    """The scenario of a machine with the given version record, registry values and port
    access (port_access says which), no PCI function answering and no host controller driver."""
    machine = {"ports": ports, "registry": {"nt": scenario_value(nt_current),
                                            "9x": scenario_value(win9x_number)}}
    if record is not None:
        machine["version"] = dict(record)
    return machine


def wine_scenario(session, nt_current=DEFAULT, win9x_number=DEFAULT, dll_overrides=""):
    """The scenario of the machine that Wine presents now, with the registry values given to
    set_versions and a program started with these DLL overrides."""
    record = session.version_record()
    return scenario(record, *session.registry_values(nt_current, win9x_number),
                    port_access(session, record, dll_overrides))


def simulate(simulator, machine, folder):
    """qorvalin-sim's report on the scenario, written into folder: single items as text, detail
    lines as a list, all still escaped as printed (as the window reader prints the window's)."""
    path = os.path.join(folder, "scenario.json")
    with open(path, "w") as f:
        json.dump(machine, f, indent=1)
    return replay(simulator, path)


def replay(simulator, path):
    """simulate() for the scenario file at path, as a user would run qorvalin-sim on it."""
    if not simulator or not os.path.isfile(simulator):
        raise Unavailable("the simulator qorvalin-sim has not been built (%s)" % simulator)
    result = subprocess.run([str(simulator), path], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if result.returncode != 0:
        raise Failure("qorvalin-sim %s: exit %d: %s"
                      % (path, result.returncode, result.stderr.decode("latin-1")))
    report = {"detail": []}
    for line in result.stdout.decode("latin-1").splitlines():
        key, _, value = line.partition(": ")
        if key in ("detail", "detail:"):
            report["detail"].append(value)
        else:
            report[key] = value
    return report


def start_recording(run, path, exe=None, dll_overrides="", env=None, wine_debug="-all,err+all"):
    """QVDUMP.EXE (built beside the session's program, or exe), started as a script does, with
    the file path to write; the program started."""
    qvdump = exe or run.session.exe.parent / QVDUMP_NAME
    return run.start(wine_debug, dll_overrides, exe=qvdump, env=env,
                     args=[windows_path(Path(path).resolve())])


def record(run, path, **start):
    """QVDUMP.EXE, started as start_recording is with start, records into path (any earlier
    file removed); its exit code and the program."""
    path = Path(path).resolve()
    path.unlink(missing_ok=True)
    program = start_recording(run, path, **start)
    return run.wait_exit(program, timeout=60), program


def check_recording(run, main, folder, **start):
    """QVDUMP.EXE (started as record is) records, into a file in folder, the machine that the
    main window was shown on; the file replays to what the window shows. Returns the program."""
    Path(folder).mkdir(parents=True, exist_ok=True)
    path = Path(folder).resolve() / "recording.txt"
    code, program = record(run, path, **start)
    check_equal(code, 0, "QVDUMP's exit code")
    check(path.is_file(), "QVDUMP wrote %s" % path)
    observation.check(observation.of_window(main), replay(run.session.sim, path),
                      "the replay of QVDUMP's recording")
    return program
