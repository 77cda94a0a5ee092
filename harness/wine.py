"""Drives the real Qorvalin.exe under Wine on a virtual X display, like a user: the x86_64 build
under wine64, or the i686 build under 32-bit Wine where this machine runs 32-bit programs."""

import contextlib
import fcntl
import hashlib
import importlib.util
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import harness

SKIP = 77
EXE_NAME = "Qorvalin.exe"
MAIN_CLASS = "Qorvalin"
DIALOG_CLASS = "#32770"
IDOK = 1  # the OK button of a message box or dialog, as Windows numbers it
TITLE = "Orvenda Qorvalin"
ABOUT_TITLE = "About Orvenda Qorvalin"


def read_controls():
    """The dialog controls' identifiers, from the header the program is built with."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                        "report", "controls.h")
    with open(path) as f:
        found = re.findall(r"#define (IDC_\w+) (\d+)", f.read())
    return {name: int(value) for name, value in found}


# IDC_CLOSE, IDC_DETAILS, ...: each control's identifier, as a name of this module.
globals().update(read_controls())

NT_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
WIN9X_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion"
WINE_KEY = r"HKEY_CURRENT_USER\Software\Wine"
X11_KEY = WINE_KEY + r"\X11 Driver"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4

# Registry values that a test may set; None deletes the value, DEFAULT restores what the fresh
# prefix held.
DEFAULT = object()


Failure = harness.Failure
Skipped = harness.Unavailable
check = harness.check
check_equal = harness.check_equal


# ---------------------------------------------------------------------------------------------
# Tools and state


# Debian's 32-bit Wine (package wine32:i386), which runs the i686 program in a win32 prefix.
WINE32 = "/usr/lib/wine/wine"
WINESERVER32 = "/usr/lib/wine/wineserver32"
# The environment variable, and its value, that make this machine count as one that runs no
# 32-bit programs, so that the i686 tests' skipping can be seen anywhere.
NO_I686 = ("QORVALIN_HOST_I686", "no")


def find_wine64():
    return shutil.which("wine64") or (
        "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else None)


def find_wine(arch):
    """The Wine loader that runs programs of the architecture: wine64, or 32-bit Wine."""
    if arch == "i686":
        return WINE32 if os.access(WINE32, os.X_OK) else None
    return find_wine64()


def find_wineserver(arch="x86_64"):
    own = (WINESERVER32,) if arch == "i686" else ()
    for candidate in own + ("/usr/lib/wine/wineserver64", shutil.which("wineserver")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def i686_unavailable():
    """Why this machine cannot run the i686 program under 32-bit Wine, or None when it can: the
    32-bit loader is started, which only a kernel that runs 32-bit programs does."""
    name, value = NO_I686
    if os.environ.get(name) == value:
        return "%s=%s: this machine counts as one that runs no 32-bit programs" % NO_I686
    loader = find_wine("i686")
    if loader is None:
        return ("32-bit Wine %s is not installed (package wine32:i386, which tools/setup.sh "
                "installs where this machine runs 32-bit programs)" % WINE32)
    try:
        result = subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    except OSError as e:
        return "this machine does not run 32-bit programs: %s: %s" % (loader, e.strerror)
    if result.returncode != 0:
        return "32-bit Wine does not start here: %s --version ended with %d: %s" % (
            loader, result.returncode, result.stdout.decode("latin-1").strip())
    return None


def missing_prerequisites(exe, winspy, arch="x86_64"):
    """What this machine lacks for the tests of the build for arch, as readable reasons; empty
    when all is there."""
    reasons = []
    if not exe or not os.path.isfile(exe):
        reasons.append("the program %s has not been built (tools/test.sh builds it)" % exe)
    if not winspy or not os.path.isfile(winspy):
        reasons.append("the window reader %s has not been built (target qorvalin_winspy%s)"
                       % (winspy, "_i686" if arch == "i686" else ""))
    if arch == "i686":
        unavailable = i686_unavailable()
        if unavailable:
            reasons.append(unavailable)
    elif not find_wine64():
        reasons.append("wine64 is not installed")
    if not find_wineserver(arch):
        reasons.append("wineserver is not installed")
    for tool, package in (("Xvfb", "xvfb"), ("xdotool", "xdotool"), ("import", "imagemagick")):
        if not shutil.which(tool):
            reasons.append("%s is not installed (package %s)" % (tool, package))
    return reasons


# Each build the tests run: the variable naming its program, and the Wine prefix's architecture.
ARCHES = {"x86_64": ("QORVALIN_WIN64_EXE", "win64"), "i686": ("QORVALIN_WIN32_EXE", "win32")}


def environment_paths():
    work = os.environ.get("QORVALIN_E2E_DIR")
    if not work:
        raise Skipped("QORVALIN_E2E_DIR is not set: run the end-to-end tests through ctest")
    arch = os.environ.get("QORVALIN_E2E_ARCH", "x86_64")
    if arch not in ARCHES:
        raise Failure("QORVALIN_E2E_ARCH is %r, not one of %s" % (arch, ", ".join(ARCHES)))
    return {
        "work": work,
        "arch": arch,
        "state": os.path.join(work, "state.json"),
        "exe": os.environ.get(ARCHES[arch][0], ""),
        "winspy": os.environ.get("QORVALIN_WINSPY", ""),
        "sim": os.environ.get("QORVALIN_SIM", ""),
    }


def load_state():
    paths = environment_paths()
    reasons = missing_prerequisites(paths["exe"], paths["winspy"], paths["arch"])
    if reasons:
        raise Skipped("; ".join(reasons))
    if not os.path.isfile(paths["state"]):
        raise Failure("no Wine session: the fixture e2e.session.start did not run or failed")
    with open(paths["state"]) as f:
        state = json.load(f)
    state.update(paths)
    return state


def wine_environment(state):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": state["prefix"],
        "WINEDEBUG": "-all",
        "DISPLAY": ":%d" % state["display"],
        # No Mono or Gecko installer dialogs while the prefix is made; a session may add more.
        "WINEDLLOVERRIDES": ";".join(filter(None, ["mscoree,mshtml=",
                                                   state.get("dll_overrides")])),
        "WINESERVER": state["wineserver"],
    })
    if state.get("winearch"):
        env["WINEARCH"] = state["winearch"]
    return env


def wine_loader(state):
    """The Wine loader of the session (the test guest's state names its 32-bit one wine64)."""
    return state.get("wine") or state["wine64"]


def wine_command(state):
    """The command that starts Wine; a session may run it under a wrapper."""
    return state.get("wine_command") or [wine_loader(state)]


def x_environment(state):
    env = dict(os.environ)
    env["DISPLAY"] = ":%d" % state["display"]
    return env


def log_path(state, name):
    logs = os.path.join(state["work"], "logs")
    os.makedirs(logs, exist_ok=True)
    return os.path.join(logs, name)


def run_wine(state, args, timeout=60, check_status=True):
    """Runs a Windows program to its end and returns its standard output."""
    # Files, not pipes: Wine's own service processes, started on demand, inherit the handles
    # and outlive the program, so a pipe would not see its end in time.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(wine_command(state) + args, env=wine_environment(state),
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                timeout=timeout)
        out.seek(0)
        err.seek(0)
        output = out.read().decode("latin-1")
        errors = err.read()
    with open(log_path(state, "wine-stderr.log"), "ab") as log:
        log.write(errors)
    if check_status and result.returncode != 0:
        raise Failure("%s %s ended with %d: %s%s" % (
            os.path.basename(wine_loader(state)), " ".join(args), result.returncode, output,
            errors.decode("latin-1")))
    return output


# ---------------------------------------------------------------------------------------------
# Session: one X display and one Wine prefix for the whole test run


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.time() + 30
    while not number.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        xvfb.kill()
        raise Failure("Xvfb did not report a display number")
    return xvfb.pid, int(number)


def server(state, option, timeout=60):
    if option == "-k":
        stop_reader(state, "wineserver -k")
    return subprocess.run([state["wineserver"], option], env=wine_environment(state),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


def start_server(state):
    """One server for the rest of the session, once the prefix is made. A server that Wine
    starts on its own ends a few seconds after its last program, and a program started while
    it ends can find no desktop to make its windows on."""
    server(state, "-w")
    if server(state, "-p") != 0:
        raise Failure("a persistent wineserver could not be started for %s" % state["prefix"])


def query_value(state, key, name):
    """The text of a registry value as "reg query" prints it, or None when it is absent."""
    fields = dict(f.split("=", 1) for f in
                  ask_reader(state, "get\t%s\t%s" % (key, name)).split()[1:])
    if "absent" in fields:
        return None
    kind, data = int(fields["type"]), bytes.fromhex(fields["data"])
    if kind in (REG_SZ, REG_EXPAND_SZ):
        return data.decode("utf-16-le").split("\0")[0]
    if kind == REG_DWORD:
        return "0x%x" % int.from_bytes(data, "little")
    return data.hex().upper()


def write_value(state, key, name, value):
    """Stores the value as set_versions describes its values (None deletes it)."""
    if value is None:
        ask_reader(state, "delete\t%s\t%s" % (key, name))
        return
    if isinstance(value, bytes):
        kind, data = REG_BINARY, value
    elif isinstance(value, int):
        kind, data = REG_DWORD, value.to_bytes(4, "little")
    else:
        kind, data = REG_SZ, (value + "\0").encode("utf-16-le")
    ask_reader(state, "set\t%s\t%s\t%d\t%s" % (key, name, kind, data.hex()))


def session_start():
    paths = environment_paths()
    reasons = missing_prerequisites(paths["exe"], paths["winspy"], paths["arch"])
    if reasons:
        print("SKIP: " + "; ".join(reasons))
        return SKIP
    session_stop()
    os.makedirs(paths["work"], exist_ok=True)
    shutil.rmtree(os.path.join(paths["work"], "logs"), ignore_errors=True)
    xvfb_pid, display = start_xvfb()
    state = dict(paths)
    state.update({
        "display": display,
        "xvfb_pid": xvfb_pid,
        "prefix": os.path.join(paths["work"], "prefix"),
        "wine": find_wine(paths["arch"]),
        "wineserver": find_wineserver(paths["arch"]),
        "winearch": ARCHES[paths["arch"]][1],
    })
    with open(paths["state"], "w") as f:
        json.dump(state, f)
    started = time.time()
    # The tests make a fresh prefix for every run; the run command keeps its own.
    if os.environ.get("QORVALIN_KEEP_PREFIX") != "1":
        shutil.rmtree(state["prefix"], ignore_errors=True)
    os.makedirs(state["prefix"], exist_ok=True)
    server(state, "-k")
    run_wine(state, ["wineboot", "-i"], timeout=300)
    start_server(state)
    # With no window manager, Wine draws the title bars and moves the windows itself, as
    # Windows does; windows it considered managed would lack their title bar.
    write_value(state, X11_KEY, "Managed", "N")
    state["nt_current_version"] = query_value(state, NT_KEY, "CurrentVersion")
    state["win9x_version_number"] = query_value(state, WIN9X_KEY, "VersionNumber")
    with open(paths["state"], "w") as f:
        json.dump(state, f)
    print("Wine prefix %s ready in %.1f s; X display :%d"
          % (state["prefix"], time.time() - started, display))
    return 0


def session_stop():
    paths = environment_paths()
    if not os.path.isfile(paths["state"]):
        return 0
    with open(paths["state"]) as f:
        state = json.load(f)
    state.update(paths)
    if state.get("wineserver"):
        server(state, "-k")
        server(state, "-w")
    pid = state.get("xvfb_pid")
    if pid:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    os.remove(paths["state"])
    print("Wine session ended")
    return 0


# ---------------------------------------------------------------------------------------------
# The window reader: one "winspy --serve" for the session, which every test process asks
#
# A new Wine process for each look at the windows costs tens of milliseconds to a second here
# and seconds in the emulated test guest, and the tests look many times a second. The reader
# stays, in a session of its own so that it outlives the test process that happened to start
# it, and is reached through two named pipes in the work folder. It is started on the first
# request after none runs, so a "wineserver -k" that ends it costs the next request a start,
# never a wait. reader.json names it; a lock keeps the requests of two processes apart.

READER_END = b"end\r\n"
# While an answer is awaited, how often the harness looks whether the reader still lives: a
# Wine service that inherited its output would keep the end of that output from showing.
READER_LOOK = 0.25
# The waits look at the windows this often (a look costs the reader a few milliseconds).
LOOK_INTERVAL = 0.05
# How long the X input focus may take to reach a window, and to be reported for it.
FOCUS_TIMEOUT = 10


# How far a wait's deadline may move on while the machine still works (see overdue).
WORKING_GRACE = 120


def overdue(state, deadline):
    """Whether a wait meant to end at deadline (time.monotonic()) is over. Where the state has
    a "still_working" watch (the test guest, whose Wine starts take as long as emulation on a
    busy host makes them), a deadline that passes while the machine works moves on, by
    WORKING_GRACE seconds at most: the harness's own looks keep a machine busy too."""
    now = time.monotonic()
    if now < deadline:
        return False
    still_working = state.get("still_working")
    return still_working is None or now >= deadline + WORKING_GRACE or not still_working()


class ReaderEnded(Exception):
    """The reader went away before it answered."""


# The readers this process started, by process id, so that their ends are reaped here.
_readers = {}


def reader_command(state):
    return wine_command(state) + [state["winspy"], "--serve"]


def reader_key(state):
    """A reader answers as one started per look only when it was started with the same command
    and environment; one started with others is replaced."""
    made = json.dumps([reader_command(state), sorted(wine_environment(state).items())])
    return hashlib.sha256(made.encode("ascii")).hexdigest()


def process_start(pid):
    """When the process began, in clock ticks since boot, or None once it has ended: with the
    id it names one process, even after the id is reused."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rpartition(")")[2].split()
    except OSError:
        return None
    return None if fields[0] in ("Z", "X") else fields[19]


def reader_alive(record):
    return record["start"] is not None and process_start(record["pid"]) == record["start"]


def reader_log(state, text):
    with open(log_path(state, "window-reader.log"), "a") as log:
        log.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))


@contextlib.contextmanager
def reader_lock(folder):
    fd = os.open(os.path.join(folder, "lock"), os.O_RDWR | os.O_CREAT, 0o644)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        yield
    finally:
        os.close(fd)


def load_reader(folder):
    try:
        with open(os.path.join(folder, "reader.json")) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def remove_quietly(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def forget_reader(state, folder, record, why):
    """Ends the reader on record if it still runs, saying why in the log, and removes what it
    was reached through."""
    pid = record["pid"]
    if reader_alive(record):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        reader_log(state, "stopped pid %d: %s" % (pid, why))
    child = _readers.pop(pid, None)
    if child is not None:
        child.wait()
    else:
        deadline = time.time() + 10
        while reader_alive(record) and time.time() < deadline:
            time.sleep(0.05)
    for path in (record["in"], record["out"], os.path.join(folder, "busy"),
                 os.path.join(folder, "reader.json")):
        remove_quietly(path)


def start_reader(state, folder, why):
    for name in os.listdir(folder):
        if name.endswith((".in", ".out")):
            remove_quietly(os.path.join(folder, name))
    base = os.path.join(folder, "%d-%d" % (os.getpid(), time.monotonic_ns()))
    record = {"in": base + ".in", "out": base + ".out", "key": reader_key(state)}
    os.mkfifo(record["in"], 0o600)
    os.mkfifo(record["out"], 0o600)
    # Both opened for reading and writing, so that neither open waits for a partner, and so
    # that the reader never meets the end of its input as the test processes come and go.
    ends = [os.open(record["in"], os.O_RDWR), os.open(record["out"], os.O_RDWR)]
    try:
        with open(log_path(state, "wine-stderr.log"), "ab") as errors:
            child = subprocess.Popen(reader_command(state), env=wine_environment(state),
                                     stdin=ends[0], stdout=ends[1], stderr=errors,
                                     start_new_session=True)
    finally:
        for fd in ends:
            os.close(fd)
    _readers[child.pid] = child
    record.update({"pid": child.pid, "start": process_start(child.pid)})
    with open(os.path.join(folder, "reader.json.new"), "w") as f:
        json.dump(record, f)
    os.replace(os.path.join(folder, "reader.json.new"), os.path.join(folder, "reader.json"))
    reader_log(state, "started pid %d: %s" % (child.pid, why))
    return record


def exchange(state, folder, record, request, timeout):
    """Sends the request and reads its answer up to the "end" line."""
    busy = os.path.join(folder, "busy")
    # Left behind only by a process that ended half-way, whose answer may still come.
    with open(busy, "w"):
        pass
    try:
        source = os.open(record["out"], os.O_RDONLY | os.O_NONBLOCK)
    except FileNotFoundError:
        raise ReaderEnded("its output is gone")
    try:
        try:
            sink = os.open(record["in"], os.O_WRONLY | os.O_NONBLOCK)
        except OSError as e:
            raise ReaderEnded("its input has no reader: %s" % e)
        try:
            os.write(sink, request.encode("latin-1") + b"\n")
        except OSError as e:
            raise ReaderEnded("its input takes nothing: %s" % e)
        finally:
            os.close(sink)
        answer = bytearray()
        deadline = time.monotonic() + timeout
        while not (answer == READER_END or answer.endswith(b"\n" + READER_END)):
            if overdue(state, deadline):
                why = "no answer to %r within %d s" % (request, timeout)
                forget_reader(state, folder, record, why)
                raise Failure("the window reader (pid %d) gave %s; it was stopped, and the next "
                              "look at the windows starts another" % (record["pid"], why))
            if select.select([source], [], [], READER_LOOK)[0]:
                chunk = os.read(source, 1 << 16)
                if not chunk:
                    raise ReaderEnded("its output ended")
                answer += chunk
            elif not reader_alive(record):
                raise ReaderEnded("it ended")
    finally:
        os.close(source)
    os.remove(busy)
    text = bytes(answer[:-len(READER_END)]).decode("latin-1")
    if text.startswith("error\t"):
        raise Failure("the window reader refused %r: %s" % (request, text.strip()))
    return text


def ask_reader(state, request, timeout=30, fresh=False):
    """The reader's answer to the request: exactly what "winspy" with the same request on its
    command line prints. fresh: from a reader started for this request, as Wine fixes the
    version record that a process reads when the process starts."""
    folder = os.path.join(state["work"], "reader")
    os.makedirs(folder, exist_ok=True)
    with reader_lock(folder):
        record = load_reader(folder)
        if record is None:
            why = "none was running"
        elif not reader_alive(record):
            why = "pid %d had ended" % record["pid"]
        elif os.path.exists(os.path.join(folder, "busy")):
            why = "pid %d was left with a request unanswered" % record["pid"]
        elif record["key"] != reader_key(state):
            why = "the command or environment of Wine changed"
        elif fresh:
            why = "a version record is asked for, and Wine fixes it as a process starts"
        else:
            why = None
        if why is not None and record is not None:
            forget_reader(state, folder, record, why)
            record = None
        for attempt in (1, 2):
            if record is None:
                record = start_reader(state, folder, why)
            try:
                return exchange(state, folder, record, request, timeout)
            except ReaderEnded as e:
                why = "pid %d ended before it answered %r: %s" % (record["pid"], request, e)
                forget_reader(state, folder, record, why)
                record = None
        raise Failure("the window reader ended twice before it answered %r; Wine's messages are "
                      "in %s" % (request, log_path(state, "wine-stderr.log")))


def stop_reader(state, why):
    folder = os.path.join(state["work"], "reader")
    if not os.path.isdir(folder):
        return
    with reader_lock(folder):
        record = load_reader(folder)
        if record is not None:
            forget_reader(state, folder, record, why)


# ---------------------------------------------------------------------------------------------
# Registry: the Windows version that Wine reports


def raw_bytes(value):
    """The bytes a registry read hands a program for a value stored with write_value."""
    if isinstance(value, bytes):
        return value
    if isinstance(value, int):
        return value.to_bytes(4, "little")
    return value.encode("latin-1") + b"\0"


def registry_values(state, nt_current=DEFAULT, win9x_number=DEFAULT):
    """The NT "CurrentVersion" and 9x "VersionNumber" values meant, DEFAULT resolved."""
    if nt_current is DEFAULT:
        nt_current = state.get("nt_current_version")
    if win9x_number is DEFAULT:
        win9x_number = state.get("win9x_version_number")
    return nt_current, win9x_number


def set_versions(state, version=None, nt_current=DEFAULT, win9x_number=DEFAULT):
    """Sets HKCU\\Software\\Wine Version (None: absent, so Wine derives the version from the
    registry), the NT "CurrentVersion" and the 9x "VersionNumber" values (None: deleted)."""
    nt_current, win9x_number = registry_values(state, nt_current, win9x_number)
    write_value(state, WINE_KEY, "Version", version)
    write_value(state, NT_KEY, "CurrentVersion", nt_current)
    write_value(state, WIN9X_KEY, "VersionNumber", win9x_number)


def reset_versions(state):
    set_versions(state)


def version_record(state):
    """The version record that GetVersionExA gives a program in the current mode."""
    out = ask_reader(state, "version", timeout=60, fresh=True)
    fields = dict(f.split("=", 1) for f in out.rstrip("\r\n").split("\t")[1:])
    if "failed" in fields:
        return None
    return {"major": int(fields["major"]), "minor": int(fields["minor"]),
            "build": int(fields["build"], 0), "platform": int(fields["platform"]),
            "csd": unescape(fields["csd"])}


# ---------------------------------------------------------------------------------------------
# The simulator: what the program should show for the machine Wine presents


def catalogue():
    """The message texts by number, from the catalogue's source."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "report",
                        "catalogue.txt")
    texts = {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            number, _, text = line.rstrip("\n").split("\t", 2)
            texts[int(number)] = unescape(text)
    return texts


# What 32-bit Wine loads for a program in a Windows 9x mode, and what emulates the program's in
# and out instructions there; with it disabled they fault, as under wine64 in every mode.
PORT_EMULATION_OFF = "krnl386.exe16=d"


def port_access(state, record, dll_overrides=""):
    """The port access Wine gives the program (a scenario's "ports") on the machine whose
    version record is given: 32-bit Wine emulates in and out in the 9x modes, with no device
    behind them, so that every read gives all ones and nothing faults; wine64 faults every one,
    and so does 32-bit Wine with its emulation disabled in the session's or the given DLL
    overrides."""
    overrides = ";".join([state.get("dll_overrides") or "", dll_overrides])
    emulated = (state.get("arch") == "i686" and record is not None and record["platform"] == 1
                and PORT_EMULATION_OFF not in overrides.split(";"))
    return "allowed" if emulated else "denied"


def wine_scenario(record, nt_current, win9x_number, ports="denied"):
    """The scenario of the machine that Wine presents to the program: the given version record
    and registry values and port access (port_access says which), no PCI function answering
    and no host controller driver."""
    scenario = {"ports": ports, "registry": {}}
    if record is not None:
        scenario["version"] = dict(record)
    for member, value in (("nt", nt_current), ("9x", win9x_number)):
        if value is None:
            scenario["registry"][member] = None
        elif isinstance(value, str):
            scenario["registry"][member] = value
        else:
            scenario["registry"][member] = {"bytes": raw_bytes(value).hex()}
    return scenario


def simulate(state, scenario):
    """The simulator's report for the scenario: single items as text, detail lines as a list,
    all still escaped as printed."""
    if not state.get("sim") or not os.path.isfile(state["sim"]):
        raise Skipped("the simulator qorvalin-sim has not been built")
    path = os.path.join(state["work"], "scenario.json")
    with open(path, "w") as f:
        json.dump(scenario, f)
    result = subprocess.run([state["sim"], path], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if result.returncode != 0:
        raise Failure("qorvalin-sim %s: %s" % (path, result.stderr.decode("latin-1")))
    report = {"detail": []}
    for line in result.stdout.decode("latin-1").splitlines():
        key, _, value = line.partition(": ")
        if key == "detail":
            report["detail"].append(value)
        elif key == "detail:":
            report["detail"].append("")
        else:
            report[key] = value
    return report


# ---------------------------------------------------------------------------------------------
# Reading the windows


def unescape(text):
    """The winspy escapes back to a str whose characters are the code page 1252 bytes."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"r": "\r", "n": "\n", "t": "\t", "\\": "\\"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


class Rect:
    def __init__(self, text):
        self.left, self.top, self.right, self.bottom = (int(v) for v in text.split(","))

    width = property(lambda self: self.right - self.left)
    height = property(lambda self: self.bottom - self.top)
    centre = property(lambda self: ((self.left + self.right) // 2, (self.top + self.bottom) // 2))

    def __repr__(self):
        return "(%d,%d)-(%d,%d)" % (self.left, self.top, self.right, self.bottom)


class Control:
    def __init__(self, fields):
        self.hwnd = int(fields["hwnd"], 0)
        self.parent = int(fields["parent"], 0)
        self.id = int(fields["id"])
        self.cls = fields["class"]
        self.raw_text = fields["text"]
        self.text = unescape(fields["text"])
        self.visible = fields["visible"] == "1"
        self.enabled = fields["enabled"] == "1"
        self.rect = Rect(fields["rect"])
        self.style = int(fields["style"], 0)
        self.items = []
        self.raw_items = []


class Window:
    def __init__(self, fields):
        self.hwnd = int(fields["hwnd"], 0)
        self.pid = int(fields["pid"])
        self.cls = fields["class"]
        self.title = unescape(fields["title"])
        self.visible = fields["visible"] == "1"
        self.enabled = fields["enabled"] == "1"
        self.rect = Rect(fields["rect"])
        self.client = Rect(fields["client"])
        self.style = int(fields["style"], 0)
        self.owner = int(fields["owner"], 0)
        self.focus = int(fields["focus"], 0)
        self.active = int(fields["active"], 0)
        self.xwin = int(fields["xwin"], 0)
        self.controls = []

    def control(self, ident):
        found = [c for c in self.controls if c.id == ident and c.parent == self.hwnd]
        if len(found) != 1:
            raise Failure("window %r has %d controls with id %d" % (self.title, len(found), ident))
        return found[0]

    def focused_id(self):
        for c in self.controls:
            if c.hwnd == self.focus:
                return c.id
        return None

    def __repr__(self):
        return "<%s %r %s visible=%d enabled=%d>" % (self.cls, self.title, self.rect,
                                                      self.visible, self.enabled)


def parse_snapshot(text):
    windows = []
    by_hwnd = {}
    for line in text.splitlines():
        kind, _, rest = line.partition("\t")
        fields = dict(f.split("=", 1) for f in rest.split("\t") if "=" in f)
        if kind == "window":
            w = Window(fields)
            windows.append(w)
            by_hwnd[w.hwnd] = w
        elif kind == "control":
            c = Control(fields)
            by_hwnd[int(fields["top"], 0)].controls.append(c)
            by_hwnd[c.hwnd] = c
        elif kind == "item":
            owner = by_hwnd[int(fields["hwnd"], 0)]
            owner.items.append(unescape(fields["text"]))
            owner.raw_items.append(fields["text"])
    return windows


def find(windows, cls, title=None):
    return [w for w in windows if w.cls == cls and (title is None or w.title == title)]


def one(windows, cls, title=None):
    found = find(windows, cls, title)
    return found[0] if len(found) == 1 else None


def visible_one(windows, cls, title=None):
    w = one(windows, cls, title)
    return w if w is not None and w.visible else None


def read_ppm(data):
    """Rows of (r, g, b) tuples from an 8-bit binary PPM."""
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not match or match.group(3) != b"255":
        raise Failure("unexpected picture from import")
    width, height = int(match.group(1)), int(match.group(2))
    body = data[match.end():]
    return [[tuple(body[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]


# ---------------------------------------------------------------------------------------------
# One test: the program under test, and the user's eyes and hands


class Run:
    def __init__(self, state, name):
        self.state = state
        self.name = name
        self.programs = []

    # The program

    def start(self, wine_debug="-all,err+all", dll_overrides=""):
        """Starts the program, with these DLL overrides besides the session's; Wine logs its
        errors, and whatever else wine_debug names, into the file program.log names."""
        env = wine_environment(self.state)
        env["WINEDEBUG"] = wine_debug
        if dll_overrides:
            env["WINEDLLOVERRIDES"] += ";" + dll_overrides
        path = log_path(self.state, "%s-%d.log" % (self.name, len(self.programs) + 1))
        with open(path, "wb") as out:
            program = subprocess.Popen(wine_command(self.state) + [self.state["exe"]], env=env,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        program.log = path
        self.programs.append(program)
        return program

    def wait_exit(self, program, timeout=20):
        deadline = time.monotonic() + timeout
        while program.poll() is None:
            if overdue(self.state, deadline):
                raise Failure("the program did not end within %d s" % timeout)
            time.sleep(LOOK_INTERVAL)
        return program.returncode

    def stop_all(self):
        for program in self.programs:
            if program.poll() is None:
                program.kill()
                program.wait()
        deadline = time.monotonic() + 10
        while self.snapshot():
            if overdue(self.state, deadline):
                raise Failure("windows of the program stay after it was stopped")
            time.sleep(LOOK_INTERVAL)

    def set_versions(self, version=None, nt_current=DEFAULT, win9x_number=DEFAULT):
        set_versions(self.state, version, nt_current, win9x_number)

    # Eyes

    def snapshot(self):
        """Every top-level window of the program (its IME helper left out)."""
        out = ask_reader(self.state, "windows " + EXE_NAME, timeout=30)
        self.last_snapshot = out
        return [w for w in parse_snapshot(out) if w.cls != "IME"]

    def sync(self):
        """Waits until every window of the program has answered a message, which its thread
        does from its message loop once it has done with the message it was handling (5 s at
        most a window), and returns the reader's answer: windows, answered, foreground."""
        fields = dict(f.split("=", 1) for f in
                      ask_reader(self.state, "sync " + EXE_NAME, timeout=60).split()[1:])
        return {"windows": int(fields["windows"]), "answered": int(fields["answered"]),
                "foreground": int(fields["foreground"], 0)}

    def wait_for(self, predicate, what, program=None, timeout=30, synced=False):
        """Polls the windows until predicate(windows) gives a true value, and returns it;
        synced: each look only once the program's windows answered (sync), and none when one
        did not answer in time."""
        deadline = time.monotonic() + timeout
        while True:
            if program is not None and program.poll() is not None:
                raise Failure("the program ended (exit %d) while waiting for %s"
                              % (program.returncode, what))
            if synced:
                answers = self.sync()
                hung = answers["windows"] - answers["answered"]
            windows = self.snapshot() if not synced or not hung else None
            if windows is None:
                if overdue(self.state, deadline):
                    raise Failure("timed out after %d s waiting for %s: %d windows of the "
                                  "program do not answer" % (timeout, what, hung))
                time.sleep(LOOK_INTERVAL)
                continue
            found = predicate(windows)
            if found:
                return found
            if overdue(self.state, deadline):
                raise Failure("timed out after %d s waiting for %s; windows: %r"
                              % (timeout, what, windows))
            time.sleep(LOOK_INTERVAL)

    def wait_settled(self, predicate, what, program=None, timeout=30):
        """Like wait_for, once two looks, each after the program's windows answered from their
        message loop (sync), found the windows the same: sizes, visibility and focus arrive
        through the message loop, so a first match may be half-way, and a message being
        handled at the first look has been handled by the second."""
        last = [None]

        def stable(windows):
            found = predicate(windows)
            key = found and [(w.hwnd, repr(w.rect), w.visible, w.enabled, w.focus, w.active,
                              [(c.hwnd, c.enabled, c.visible, repr(c.rect), c.raw_text,
                                c.raw_items) for c in w.controls]) for w in windows]
            settled = key and key == last[0]
            last[0] = key
            return found if settled else None

        return self.wait_for(stable, what, program, timeout, synced=True)

    def main_when(self, program, what, condition, timeout=30):
        """The main window once it is visible, condition(window) holds and it has settled."""
        def found(windows):
            main = one(windows, MAIN_CLASS)
            return main if main is not None and main.visible and condition(main) else None
        return self.wait_settled(found, what, program, timeout)

    def splash(self, program):
        return self.wait_settled(lambda ws: visible_one(ws, DIALOG_CLASS, TITLE),
                                 "the splash dialog", program)

    def main_window(self, program, timeout=60):
        return self.wait_settled(lambda ws: visible_one(ws, MAIN_CLASS), "the main window",
                                 program, timeout)

    def continue_to_verdict(self, program):
        """Presses Continue on the splash and returns the main window once it shows a verdict."""
        self.click(self.splash(program).control(IDC_CONTINUE))
        return self.main_when(program, "the verdict", lambda m: m.control(IDC_HEADLINE).text, 60)

    def close(self, program, main):
        """Presses Close and returns the exit code."""
        self.click(main.control(IDC_CLOSE))
        return self.wait_exit(program)

    def about(self, program):
        return self.wait_settled(lambda ws: visible_one(ws, DIALOG_CLASS, ABOUT_TITLE),
                                 "the About box", program)

    def screenshot(self, path, rect=None):
        args = ["import", "-display", ":%d" % self.state["display"], "-window", "root"]
        if rect is not None:
            args += ["-crop", "%dx%d+%d+%d" % (rect.width, rect.height, rect.left, rect.top),
                     "+repage"]
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        subprocess.run(args + [path], env=x_environment(self.state), stdin=subprocess.DEVNULL,
                       check=True, timeout=30)
        return path

    def pixels(self, rect):
        """The screen inside rect as rows of (r, g, b) tuples."""
        args = ["import", "-display", ":%d" % self.state["display"], "-window", "root",
                "-crop", "%dx%d+%d+%d" % (rect.width, rect.height, rect.left, rect.top),
                "+repage", "-depth", "8", "ppm:-"]
        data = subprocess.run(args, env=x_environment(self.state), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, check=True, timeout=30).stdout
        return read_ppm(data)

    # Hands

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=x_environment(self.state),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True,
                       timeout=30)

    def point(self, x, y):
        # Not --sync: xdotool would wait for a motion that never comes when the pointer is
        # already there.
        self.xdotool("mousemove", x, y)

    def click(self, control):
        x, y = control.rect.centre
        self.point(x, y)
        time.sleep(0.1)
        self.xdotool("click", "1")

    def click_close_box(self, window):
        """The close box sits at the right end of the title bar that Wine draws."""
        caption = window.client.top - window.rect.top
        self.point(window.rect.right - caption // 2 - 2, (window.rect.top + window.client.top) // 2)
        time.sleep(0.1)
        self.xdotool("click", "1")

    def focus(self, window):
        """Gives the window the X input focus, as a window manager does for the window in
        front (with none, Wine would ignore the keyboard), and waits until Wine has the window
        in front, where it sends the keys, and the program answers from its message loop."""
        self.xdotool("windowfocus", "--sync", window.xwin)
        deadline = time.monotonic() + FOCUS_TIMEOUT
        while True:
            answers = self.sync()
            if answers["foreground"] == window.hwnd and answers["answered"] == answers["windows"]:
                return
            if overdue(self.state, deadline):
                raise Failure("%r is not in front with its program answering %d s after it got "
                              "the X input focus: %r" % (window, FOCUS_TIMEOUT, answers))
            time.sleep(LOOK_INTERVAL)

    def key(self, window, keys):
        self.focus(window)
        self.xdotool("key", keys)

    def drag_title(self, window, dx, dy):
        """Drags the window by its title bar."""
        x = (window.rect.left + window.rect.right) // 2
        y = (window.rect.top + window.client.top) // 2
        self.point(x, y)
        time.sleep(0.1)
        self.xdotool("mousedown", "1")
        steps = 8
        for i in range(1, steps + 1):
            time.sleep(0.05)
            self.point(x + dx * i // steps, y + dy * i // steps)
        time.sleep(0.2)
        self.xdotool("mouseup", "1")


def load_script(path):
    """The test script at path as a module, so that one folder's tests can run another's; its
    imports find its neighbours, as when it runs."""
    found = importlib.util.spec_from_file_location(os.path.basename(path)[:-3], path)
    module = importlib.util.module_from_spec(found)
    sys.path.insert(0, os.path.dirname(os.path.abspath(path)))
    try:
        found.loader.exec_module(module)
    finally:
        sys.path.pop(0)
    return module


def run_cases(cases, argv=None):
    """Runs the one case named on the command line; --list prints the names for CMake."""
    argv = sys.argv[1:] if argv is None else argv
    if argv == ["--list"]:
        print(";".join(sorted(cases)))
        return 0
    if len(argv) != 1 or argv[0] not in cases:
        print("usage: %s --list | CASE" % sys.argv[0], file=sys.stderr)
        return 2
    name = argv[0]
    try:
        state = load_state()
    except Skipped as e:
        print("SKIP: %s" % e)
        return SKIP
    except Failure as e:
        print("FAIL %s: %s" % (name, e))
        return 1
    run = Run(state, name)
    status = 1
    try:
        reset_versions(state)
        cases[name](run)
        status = 0
    except Skipped as e:
        print("SKIP: %s" % e)
        status = SKIP
    except Failure as e:
        print("FAIL %s: %s" % (name, e))
    except Exception:
        traceback.print_exc()
        print("FAIL %s" % name)
    if status == 1:
        try:
            print("screen at the failure: %s" % run.screenshot(log_path(state, name + ".png")))
            print("last windows seen:\n%s" % getattr(run, "last_snapshot", ""))
            for program in run.programs:
                with open(program.log, encoding="latin-1") as f:
                    lines = f.read().splitlines()
                print("Wine's log of the program, %s (its end):\n%s"
                      % (program.log, "\n".join(lines[-40:])))
        except Exception:
            pass
    try:
        run.stop_all()
        reset_versions(state)
    except Exception as e:
        print("FAIL %s: cleaning up: %s" % (name, e))
        status = 1
    if status == 0:
        print("PASS %s" % name)
    return status


def demo(folder):
    """What the run command shows with no display: Continue, the verdict, Details, Close, with
    a picture of the compact and of the expanded window."""
    state = load_state()
    run = Run(state, "demo")
    program = run.start()
    try:
        main = run.continue_to_verdict(program)
        # The pointer would leave a hover mark on a button in the pictures.
        run.point(0, 0)
        time.sleep(0.5)
        compact = run.screenshot(os.path.join(folder, "compact.png"), main.rect)
        headline = " ".join(main.control(IDC_HEADLINE).text.split())
        run.click(main.control(IDC_DETAILS))
        full = run.main_when(program, "the expanded window",
                             lambda m: not m.control(IDC_DETAILS).enabled)
        run.point(0, 0)
        time.sleep(0.5)
        expanded = run.screenshot(os.path.join(folder, "expanded.png"), full.rect)
        status = run.close(program, full)
    finally:
        run.stop_all()
    print("Verdict: %s" % headline)
    print("Screenshots: %s, %s" % (compact, expanded))
    print("Qorvalin ended with exit code %d" % status)
    return 0 if status == 0 else 1


if __name__ == "__main__":
    commands = {"session-start": session_start, "session-stop": session_stop, "demo": demo}
    usage = "usage: wine.py session-start | session-stop | demo FOLDER"
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        print(usage, file=sys.stderr)
        sys.exit(2)
    try:
        sys.exit(commands[sys.argv[1]](*sys.argv[2:]))
    except Skipped as e:
        print("SKIP: %s" % e)
        sys.exit(SKIP)
    except Failure as e:
        print("FAILED: %s" % e, file=sys.stderr)
        sys.exit(1)
