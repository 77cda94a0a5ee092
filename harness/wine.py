"""Wine sessions: finding Wine, one X display and prefix with its server, registry, versions."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from guest.debian import session as debian_session
from harness import Failure, Unavailable, build, rootfs
from harness.display import start_xvfb, wine_environment
from harness.window_reader import WindowReader
from harness.window import unescape

NT_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
WIN9X_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion"
WINE_KEY = r"HKEY_CURRENT_USER\Software\Wine"
X11_KEY = WINE_KEY + r"\X11 Driver"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4

# A registry value a test may give: None deletes it, DEFAULT restores the fresh prefix's.
DEFAULT = object()

# 32-bit Wine, for the i686 program in a win32 prefix: the test guest's root file system's
# (harness/rootfs.py), one consistent package set rather than whatever the host's allows.
WINE32 = debian_session.WINE
WINESERVER32 = debian_session.WINESERVER
# Each build the tests run: the build's name of its program, and the prefix's architecture.
ARCHES = {"x86_64": ("win64_exe", "win64"), "i686": ("win32_exe", "win32")}
# How far a wait's deadline may move on while the machine still works (see Session.overdue).
WORKING_GRACE = 120


def wine_commands(arch):
    """(loader, wineserver, the commands that start each) for programs of arch: wine64 here, or
    32-bit Wine in the guest's root file system; Unavailable where there is none."""
    if arch == "i686":
        # Inside the test guest (its session's file is there), that root file system is the
        # running one, and its 32-bit Wine is started as it is.
        if os.path.exists(debian_session.SESSION):
            return WINE32, WINESERVER32, [WINE32], [WINESERVER32]
        root = rootfs.root()
        return (WINE32, WINESERVER32, rootfs.command(root, [WINE32]),
                rootfs.command(root, [WINESERVER32]))
    found = [next((p for p in paths if p and os.access(p, os.X_OK)), None) for paths in (
        (shutil.which("wine64"), "/usr/lib/wine/wine64"),
        ("/usr/lib/wine/wineserver64", shutil.which("wineserver")))]
    for path, name in zip(found, ("wine64", "wineserver")):
        if path is None:
            raise Unavailable("%s is not installed" % name)
    return found[0], found[1], [found[0]], [found[1]]


def i686_unavailable():
    """Why this machine cannot run the i686 program under 32-bit Wine, or None when it can: the
    32-bit loader is started, which only a kernel that runs 32-bit programs does."""
    try:
        command = wine_commands("i686")[2]
    except Unavailable as e:
        return str(e)
    result = subprocess.run(command + ["--version"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    if result.returncode != 0:
        return "32-bit Wine does not start here: %s --version ended with %d: %s" % (
            WINE32, result.returncode, result.stdout.decode("latin-1").strip())
    return None


def missing_prerequisites(arch):
    """What this machine lacks to run and drive programs of arch under Wine, as reasons."""
    reasons = []
    if arch == "i686":
        reasons += filter(None, [i686_unavailable()])
    else:
        try:
            wine_commands(arch)
        except Unavailable as e:
            reasons.append(str(e))
    for tool, package in (("Xvfb", "xvfb"), ("xdotool", "xdotool"), ("import", "imagemagick")):
        if not shutil.which(tool):
            reasons.append("%s is not installed (package %s)" % (tool, package))
    return reasons


def windows_path(path):
    """Where Wine's drive Z: shows a file of this machine."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def raw_bytes(value):
    """The bytes a registry read hands a program for a value stored with write_value."""
    if isinstance(value, bytes):
        return value
    if isinstance(value, int):
        return value.to_bytes(4, "little")
    return value.encode("latin-1") + b"\0"


class Session:
    """One X display and Wine prefix with its server kept running, and the window reader in it.
    Wine is the one wine_commands names for arch, or the loader and wineserver given (the test
    guest's own); command starts it (a session may put a wrapper before the loader),
    dll_overrides adds to Wine's DLL overrides; still_working, where given, says whether a
    machine too slow for the usual deadlines still works (the test guest)."""

    def __init__(self, work, arch="x86_64", exe=None, winspy=None, sim=None, prefix=None,
                 display=None, loader=None, wineserver=None, winearch=None, still_working=None):
        self.work = Path(work).resolve()
        self.arch = arch
        # Absolute, as 32-bit Wine runs them in a root of its own.
        self.exe, self.winspy = (Path(p).resolve() if p else None for p in (exe, winspy))
        self.sim, self.display = sim, display
        self.prefix = Path(prefix or self.work / "prefix").resolve()
        self.loader, self.wineserver, self.command, self.server_command = (
            wine_commands(arch) if loader is None else (loader, wineserver, [loader], [wineserver]))
        self.winearch, self.still_working = winearch, still_working
        self.dll_overrides = ""
        self.xvfb = None
        self.window_reader = WindowReader(self)
        # The prefix's own version values, which reset_versions puts back (ready reads them).
        self.nt_current_version = self.win9x_version_number = None

    def environment(self, wine_debug="-all", dll_overrides=""):
        return wine_environment(self.prefix, self.display, self.wineserver, wine_debug,
                                (self.dll_overrides, dll_overrides), self.winearch)

    def x_environment(self):
        return dict(os.environ, DISPLAY=":%d" % self.display)

    def log_path(self, name):
        logs = self.work / "logs"
        logs.mkdir(parents=True, exist_ok=True)
        return logs / name

    def overdue(self, deadline):
        """Whether a wait meant to end at deadline (time.monotonic()) is over. With a
        still_working watch, a deadline that passes while the machine works moves on, by
        WORKING_GRACE seconds at most: the harness's own looks keep a machine busy too."""
        now = time.monotonic()
        return now >= deadline and (self.still_working is None or now >= deadline + WORKING_GRACE
                                    or not self.still_working())

    def run(self, args, timeout=60, check_status=True):
        """Runs a Windows program to its end and returns its standard output."""
        # Files, not pipes: Wine's own service processes, started on demand, inherit the
        # handles and outlive the program, so a pipe would not see its end in time.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(self.command + args, env=self.environment(),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout)
            out.seek(0)
            err.seek(0)
            output = out.read().decode("latin-1")
            errors = err.read()
        with open(self.log_path("wine-stderr.log"), "ab") as log:
            log.write(errors)
        if check_status and result.returncode != 0:
            raise Failure("%s %s ended with %d: %s%s" % (
                os.path.basename(self.loader), " ".join(args), result.returncode, output,
                errors.decode("latin-1")))
        return output

    def server(self, option, timeout=60):
        if option == "-k":
            self.window_reader.stop("wineserver -k")
        return subprocess.run(self.server_command + [option], env=self.environment(),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode

    def make_prefix(self, keep=False):
        """A prefix made by wineboot (kept as it is when keep and it exists), and one server
        for the rest of the session: a server that Wine starts on its own ends a few seconds
        after its last program, and a program started while it ends can find no desktop."""
        if not keep:
            shutil.rmtree(self.prefix, ignore_errors=True)
        self.prefix.mkdir(parents=True, exist_ok=True)
        self.server("-k")
        self.run(["wineboot", "-i"], timeout=300)
        self.server("-w")
        if self.server("-p") != 0:
            raise Failure("a persistent wineserver could not be started for %s" % self.prefix)

    def ready(self):
        """Readies the made prefix for the tests: with no window manager, Wine draws the title
        bars and moves the windows itself, as Windows does (windows it considered managed
        would lack their title bar); the prefix's own version values are read."""
        self.write_value(X11_KEY, "Managed", "N")
        self.nt_current_version = self.query_value(NT_KEY, "CurrentVersion")
        self.win9x_version_number = self.query_value(WIN9X_KEY, "VersionNumber")

    def close(self):
        self.server("-k")
        self.server("-w")
        if self.xvfb is not None:
            self.xvfb.send_signal(signal.SIGTERM)
            self.xvfb.wait()

    def query_value(self, key, name):
        """The text of a registry value as "reg query" prints it, or None when it is absent."""
        fields = self.window_reader.fields("get\t%s\t%s" % (key, name))
        if "absent" in fields:
            return None
        kind, data = int(fields["type"]), bytes.fromhex(fields["data"])
        if kind in (REG_SZ, REG_EXPAND_SZ):
            return data.decode("utf-16-le").split("\0")[0]
        if kind == REG_DWORD:
            return "0x%x" % int.from_bytes(data, "little")
        return data.hex().upper()

    def write_value(self, key, name, value):
        """Stores a text as REG_SZ, bytes as REG_BINARY, an int as REG_DWORD; None deletes."""
        if value is None:
            self.window_reader.ask("delete\t%s\t%s" % (key, name))
            return
        kind = REG_BINARY if isinstance(value, bytes) else (
            REG_DWORD if isinstance(value, int) else REG_SZ)
        data = (value + "\0").encode("utf-16-le") if kind == REG_SZ else raw_bytes(value)
        self.window_reader.ask("set\t%s\t%s\t%d\t%s" % (key, name, kind, data.hex()))

    def registry_values(self, nt_current=DEFAULT, win9x_number=DEFAULT):
        """The NT "CurrentVersion" and 9x "VersionNumber" values meant, DEFAULT resolved."""
        return (self.nt_current_version if nt_current is DEFAULT else nt_current,
                self.win9x_version_number if win9x_number is DEFAULT else win9x_number)

    def set_versions(self, version=None, nt_current=DEFAULT, win9x_number=DEFAULT):
        """Sets Wine's Version (None: absent, so Wine derives the version from the registry),
        the NT "CurrentVersion" and the 9x "VersionNumber" values (None: deleted)."""
        nt_current, win9x_number = self.registry_values(nt_current, win9x_number)
        self.write_value(WINE_KEY, "Version", version)
        self.write_value(NT_KEY, "CurrentVersion", nt_current)
        self.write_value(WIN9X_KEY, "VersionNumber", win9x_number)

    def reset_versions(self):
        self.set_versions()

    def version_record(self):
        """The version record that GetVersionExA gives a program in the current mode, or None
        when the call fails; from a reader started now, as Wine fixes the record that a process
        reads when the process starts."""
        fields = self.window_reader.fields("version", timeout=60, fresh=True)
        if "failed" in fields:
            return None
        numbers = {name: int(fields[name], 0) for name in ("major", "minor", "build", "platform")}
        return dict(numbers, csd=unescape(fields["csd"]))


def start(work, arch="x86_64", exe=None, winspy=None, sim=None, keep_prefix=False):
    """A new session for the build of arch in the folder work, its prefix made afresh (or kept,
    when keep_prefix and it exists); Unavailable when this machine lacks what it needs."""
    reasons = missing_prerequisites(arch)
    for path, what in ((exe, "the program"), (winspy, "the window reader")):
        if not path or not os.path.isfile(path):
            reasons.append("%s %s has not been built" % (what, path))
    if reasons:
        raise Unavailable("; ".join(reasons))
    work = Path(work)
    work.mkdir(parents=True, exist_ok=True)
    shutil.rmtree(work / "logs", ignore_errors=True)
    session = Session(work, arch, exe, winspy, sim, winearch=ARCHES[arch][1])
    session.xvfb, session.display = start_xvfb()
    try:
        session.make_prefix(keep_prefix)
        session.ready()
    except BaseException:
        session.close()
        raise
    return session


def test_program(target, arch):
    """A test-only Windows program of the native build for arch, by its CMake target's name."""
    return build.path(target + ("_i686" if arch == "i686" else ""))


def start_built(work, arch="x86_64", keep_prefix=False):
    """start() for the native build's program of arch, its window reader and simulator."""
    return start(work, arch, build.path(ARCHES[arch][0]), test_program("qorvalin_winspy", arch),
                 build.files().get("sim"), keep_prefix)
