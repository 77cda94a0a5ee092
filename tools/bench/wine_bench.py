"""Times Qorvalin.exe under Wine (x86_64 under wine64, or i686 under 32-bit Wine) against the
baseline dialog and the design floor, in turns in one prefix, and reads the peak memory of all
three; docs/benchmarks.md says what each figure is."""

import argparse
import contextlib
import os
import re
import subprocess
import sys
import threading
import time
from pathlib import Path
from statistics import median

from harness import Failure, wine
from harness.catalogue import IDC_CONTINUE
from harness.user import Run
from harness.window import DIALOG_CLASS, MAIN_CLASS, TITLE, one

BASELINE_TITLE = "Qorvalin benchmark baseline"
EVENT_TIMEOUT = 60
# How long a visible window is left before its memory is read and it is ended: long enough for
# the first painting.
SETTLE = 0.5
# A pause after each run, so that Wine's clearing up after the ended program does not fall into
# the next program's start.
GAP = 0.3
# The programs run, by their options.
PROGRAMS = (("exe", "the program"), ("baseline", "the baseline program"),
            ("design", "the design floor program"), ("watch", "the watcher"),
            ("winspy", "the window reader"))


def ms(seconds):
    return "%.0f" % (seconds * 1000)


BASELINE, FLOOR, QORVALIN = range(3)
# The report's rows: what, whose runs, which figure of them (milliseconds, unless a ratio or KiB).
ROWS = (
    ("baseline: start to its dialog created (ms)", BASELINE, "first_window"),
    ("baseline: start to its dialog visible, the timed figure (ms)", BASELINE, "total"),
    ("Qorvalin: start to its main window created, hidden (ms)", QORVALIN, "first_window"),
    ("Qorvalin: start to splash visible (ms)", QORVALIN, "start_to_splash"),
    ("Qorvalin: Continue handled to verdict window visible (ms)", QORVALIN, "continue_to_verdict"),
    ("Qorvalin: the two together, the timed figure (ms)", QORVALIN, "total"),
    ("design floor: start to splash visible (ms)", FLOOR, "start_to_splash"),
    ("design floor: Continue handled to main window visible (ms)", FLOOR, "continue_to_verdict"),
    ("design floor: the two together (ms)", FLOOR, "total"),
    ("ratio Qorvalin / baseline, run by run", QORVALIN, "ratio"),
    ("ratio Qorvalin / design floor, run by run", QORVALIN, "floor_ratio"),
    ("harness: splash visible to splash hidden, left out (ms)", QORVALIN, "reaction"),
    ("harness: Continue clicked to splash hidden (ms)", QORVALIN, "click_to_hidden"),
    ("baseline: peak memory, VmHWM (KiB)", BASELINE, "memory"),
    ("design floor: peak memory, VmHWM (KiB)", FLOOR, "memory"),
    ("Qorvalin: peak memory, VmHWM (KiB)", QORVALIN, "memory"),
)


def cell(key, value):
    return "%d" % value if key == "memory" else "%.3f" % value if "ratio" in key else ms(value)


class Session:
    """One X display, one Wine prefix with its server kept running, and the window watcher
    inside Wine, which stamps what it sees on the real-time clock that the harness reads too."""

    def __init__(self, args):
        self.args = args
        self.watcher = self.wine = None
        # When the watcher first saw each (label, event) since the run's start.
        self.seen = {}
        self.ended = False
        self.changed = threading.Condition()
        # What the run sets in the prefix, and takes out again: the display has no window
        # manager, and hiding the splash would wait 2 s for one unless Wine is told so.
        self.values = [(wine.WINE_KEY, "Version", args.windows)] if args.windows else []
        if not args.managed:
            self.values.append((wine.X11_KEY, "Managed", "N"))
        try:
            os.makedirs(args.work, exist_ok=True)
            try:
                xvfb, display = wine.start_xvfb(args.display)
            except (OSError, Failure):
                # Xvfb cannot open a display that is open already: that one is used.
                if args.display is None:
                    raise
                xvfb, display = None, args.display
            self.wine = wine.Session(args.work, args.arch, args.exe, args.winspy,
                                     prefix=args.prefix, display=display,
                                     winearch=wine.ARCHES[args.arch][1])
            self.wine.xvfb = xvfb
            if not os.path.isfile(os.path.join(args.prefix, "system.reg")):
                self.wine.run(["wineboot", "-i"], timeout=300)
            # A server that stays up spares every start its own. It goes to the background once
            # it listens: a program started before that could start a second server of its own.
            self.wine.server("-p")
            for key, name, value in self.values:
                self.wine.write_value(key, name, value)
            self.start_watcher()
        except BaseException:
            self.close()
            raise

    def start_watcher(self):
        self.watcher = subprocess.Popen(
            self.wine.command + [os.path.abspath(self.args.watch), "baseline", DIALOG_CLASS,
                                 BASELINE_TITLE, "splash", DIALOG_CLASS, TITLE, "main",
                                 MAIN_CLASS, ""],
            env=self.wine.environment(), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, universal_newlines=True)

        def read():
            for line in self.watcher.stdout:
                fields = line.split()
                if len(fields) == 3:
                    with self.changed:
                        self.seen.setdefault((fields[0], fields[1]), int(fields[2]) / 1e6)
                        self.changed.notify_all()
            with self.changed:
                self.ended = True
                self.changed.notify_all()

        threading.Thread(target=read, daemon=True).start()
        # Both clocks are the real-time clock: the watcher's first stamp cannot lie ahead.
        if self.wait("watcher", "ready") > time.time() + 0.01:
            raise Failure("the watcher's clock runs ahead of the harness's")

    def wait(self, label, event):
        """When the watcher first saw LABEL's window do EVENT since the run's start. One look of
        the watcher may report several events, in its own order, so all of them are kept."""
        with self.changed:
            if not self.changed.wait_for(lambda: (label, event) in self.seen or self.ended,
                                         EVENT_TIMEOUT):
                raise Failure("timed out waiting for %s %s" % (label, event))
            if (label, event) not in self.seen:
                raise Failure("the window watcher ended")
            return self.seen[(label, event)]

    def close(self):
        """Ends what this session started, however far it got."""
        if self.watcher is not None and self.watcher.poll() is None:
            self.watcher.kill()
            self.watcher.wait()
        if self.wine is None:
            return
        for key, name, _ in self.values:
            try:
                self.wine.write_value(key, name, None)
            except Failure as e:
                print("could not take %s back out of the prefix: %s" % (name, e),
                      file=sys.stderr)
        # Waiting for the server to go spares the next session a server on its way out.
        self.wine.close()

    def start(self, exe, name):
        """Starts exe, what earlier runs showed forgotten (their last events have arrived by
        now): the run, its process, and when it was started."""
        with self.changed:
            self.seen.clear()
        run = Run(self.wine, name)
        started = time.time()
        return run, run.start(exe=exe), started

    def end(self, program, exe, label):
        """Ends the program once settled, and returns its peak memory: VmHWM of the process
        that runs it, as Wine runs the program in the process the harness started."""
        time.sleep(SETTLE)
        process = Path("/proc/%d" % program.pid)
        if os.path.basename(exe).encode() not in (process / "cmdline").read_bytes():
            raise Failure("process %d does not run %s" % (program.pid, exe))
        memory = re.search(r"^VmHWM:\s*(\d+)", (process / "status").read_text(), re.M)
        if memory is None:
            raise Failure("no VmHWM for process %d" % program.pid)
        program.kill()
        program.wait()
        self.wait(label, "hidden")
        time.sleep(GAP)
        return int(memory[1])


def run_baseline(session):
    _, program, start = session.start(session.args.baseline, "bench-baseline")
    shown = session.wait("baseline", "shown")
    created = session.wait("baseline", "created")
    return {"total": shown - start, "first_window": created - start,
            "memory": session.end(program, session.args.baseline, "baseline")}


def run_qorvalin(session, exe, name):
    run, program, start = session.start(exe, name)
    splash_shown = session.wait("splash", "shown")
    # The main window is made first, hidden, and the splash after it.
    created = session.wait("main", "created")
    splash = one(run.snapshot(), DIALOG_CLASS, TITLE)
    if splash is None:
        raise Failure("the splash the watcher saw is not there")
    clicked = time.time()
    # xdotool's "mousemove --sync" waits about 15 s for a move that is not needed, and the
    # previous run left the pointer on this very button.
    run.xdotool("mousemove", 0, 0)
    run.click(splash.control(IDC_CONTINUE))
    pressed = session.wait("splash", "hidden")
    shown = session.wait("main", "shown")
    return {"total": (splash_shown - start) + (shown - pressed),
            "first_window": created - start, "start_to_splash": splash_shown - start,
            "continue_to_verdict": shown - pressed,
            "reaction": pressed - splash_shown, "click_to_hidden": pressed - clicked,
            "memory": session.end(program, exe, "main")}


def run_round(session):
    """The baseline, the design floor and Qorvalin, Qorvalin's figures against the two added."""
    baseline = run_baseline(session)
    floor = run_qorvalin(session, session.args.design, "bench-design")
    qorvalin = run_qorvalin(session, session.args.exe, "bench-qorvalin")
    qorvalin.update(ratio=qorvalin["total"] / baseline["total"],
                    floor_ratio=qorvalin["total"] / floor["total"],
                    share=qorvalin["total"] - floor["total"])
    return baseline, floor, qorvalin


def summary(rounds, args):
    def figures(who, key):
        return [r[who][key] for r in rounds]

    ratio = median(figures(QORVALIN, "ratio"))
    return [
        "Qorvalin.exe (%s) against the baseline dialog and the design floor under Wine, %d "
        "alternating runs of each after one unmeasured warm-up run of each; Windows version "
        "seen by the programs: %s; windows %s."
        % (args.arch, len(rounds), args.windows or "the prefix's default (win7)",
           "managed (Wine's default)" if args.managed else
           "not managed (X11 Driver \"Managed\"=\"N\")"),
        "",
        "| measure | median | lowest | highest |",
        "|---|---|---|---|",
    ] + ["| %s | %s | %s | %s |" % ((what,) + tuple(cell(key, f(figures(who, key)))
                                                    for f in (median, min, max)))
         for what, who, key in ROWS] + [
        "",
        "Median ratio %.3f (goal at most 1.2: %s); the ratio of the medians is %.3f and that "
        "of the lowest times, which a busy machine disturbs least, %.3f. Peak memory above "
        "the baseline's: %d KiB (medians)."
        % (ratio, "met" if ratio <= 1.2 else "NOT MET",
           median(figures(QORVALIN, "total")) / median(figures(BASELINE, "total")),
           min(figures(QORVALIN, "total")) / min(figures(BASELINE, "total")),
           median(figures(QORVALIN, "memory")) - median(figures(BASELINE, "memory"))),
        "",
        "Against the design floor: median ratio %.3f; Qorvalin's own share, the median of "
        "its time minus the floor's in the same round, %s ms."
        % (median(figures(QORVALIN, "floor_ratio")), ms(median(figures(QORVALIN, "share")))),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--arch", choices=sorted(wine.ARCHES), default="x86_64")
    for name, what in PROGRAMS:
        parser.add_argument("--" + name, required=True, help=what)
    parser.add_argument("--work", required=True, help="a directory for logs")
    parser.add_argument("--prefix", required=True, help="the Wine prefix (made when missing)")
    parser.add_argument("--display", type=int, help="the X display (started when not open)")
    parser.add_argument("--runs", type=int, default=10, help="runs of each program")
    parser.add_argument("--windows", help="the Windows version Wine reports, e.g. win98")
    parser.add_argument("--managed", action="store_true",
                        help="leave the windows to a window manager, as Wine does by default")
    args = parser.parse_args()

    reasons = wine.missing_prerequisites(args.arch) + [
        "%s %s has not been built" % (what, getattr(args, name))
        for name, what in PROGRAMS if not os.path.isfile(getattr(args, name))]
    if reasons:
        print("Skipped the Wine measurements: %s." % "; ".join(reasons))
        return 0
    rounds = []
    try:
        with contextlib.closing(Session(args)) as session:
            run_round(session)
            for i in range(args.runs):
                rounds.append(run_round(session))
                print("run %d: baseline %s ms, design floor %s ms, Qorvalin %s ms"
                      % ((i + 1,) + tuple(ms(r["total"]) for r in rounds[-1])), file=sys.stderr)
    except (Failure, subprocess.TimeoutExpired) as e:
        print("Wine measurements failed: %s" % e)
        return 1
    print("\n".join(summary(rounds, args)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
