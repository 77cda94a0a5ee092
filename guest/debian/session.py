"""Runs inside the Debian guest: its Wine session, which its init starts before the job.

Every boot on a board repeats it alike: the host saves the guest's state once this says on the
channel that it is ready, and later boots start there. The shared folder that holds the harness
is mounted only after the state is saved, so the image holds the one module of the harness this
needs (harness/display.py) beside it."""

import json
import os
import subprocess
import sys
import time

from harness.display import start_xvfb, wine_environment

WINE = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver32"
PREFIX = "/opt/qorvalin/prefix"
SESSION = "/run/qorvalin-session.json"
# The guest's second serial port, its one channel to the host: a line a message.
CHANNEL = "/dev/ttyS1"
READY = "session\tready"
FAILED = "session\tfailed"
GO = b"go"

# Under emulation Wine's first start in a boot (wineboot's services, the desktop) takes 10 to 20
# s, several times that when the host is busy; it is waited for as long as the guest keeps
# working, and taken as hung once the guest's CPU has been idle for HANG_SECONDS.
HANG_SECONDS = 60
BUSY_SHARE = 0.2


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


class Hung(Exception):
    """A step that the guest stopped working for."""


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
            raise Hung("%s hung: the guest's CPU idle for %d s, %.0f s after it began. Its "
                       "processes:\n%s\nWine's last messages:\n%s"
                       % (what, HANG_SECONDS, time.time() - started, running, said))
    if child.returncode != 0:
        raise Hung("%s ended with status %d" % (what, child.returncode))
    return time.time() - started


def start(log):
    """The session: its display, its server (one for the rest of the boot: a server that Wine
    starts on its own ends a few seconds after its last program, and a program started while it
    ends finds no desktop), and Wine's first start, by a program that makes a window."""
    session = {}
    xvfb, session["display"] = start_xvfb()
    session["xvfb_pid"] = xvfb.pid
    env = wine_environment(PREFIX, session["display"], WINESERVER)
    for option in ("-w", "-p"):
        subprocess.run([WINESERVER, option], env=env, stdin=subprocess.DEVNULL, check=True,
                       timeout=60)
    with open(log, "wb") as out:
        child = subprocess.Popen([WINE, "rundll32.exe", "user32.dll,MessageBeep"], env=env,
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=out)
    session["wine"] = round(wait_working(child, "Wine's first start in the guest", log), 1)
    return session


def main():
    with open("/proc/uptime") as f:
        booted = float(f.read().split()[0])
    try:
        session = start("/run/qorvalin-wine-start.log")
    except (Hung, OSError, subprocess.SubprocessError) as e:
        session = {"error": str(e)}
    session["boot"] = booted
    with open(SESSION, "w") as f:
        json.dump(session, f)
    with open(CHANNEL, "rb+", buffering=0) as channel:
        channel.write(((FAILED if "error" in session else READY) + "\n").encode())
        if "error" in session:
            # Nothing worth saving: the job goes on at once and reports the error.
            return 1
        # The host's word: the state is saved, or this boot started from it.
        while True:
            line = channel.readline()
            if GO in line:
                return 0
            if not line:
                time.sleep(0.2)


if __name__ == "__main__":
    sys.exit(main())
