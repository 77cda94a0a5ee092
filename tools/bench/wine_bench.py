"""Times Qorvalin.exe under Wine (the x86_64 build under wine64, or with --arch i686 the i686
build under 32-bit Wine) against two baselines of the same architecture, run after run in the
same prefix, and reads the peak memory of all three: a one-dialog program, and the design floor,
which makes the program's own windows from its own templates in its order and runs no check.

What is timed, for every run, on the real-time clock that the harness and the window watcher
inside Wine both read:
- start: just before the harness starts `wine64 PROGRAM.exe` (or 32-bit Wine's loader), as the
  end-to-end tests do;
- Qorvalin: (splash visible - start) + (main window visible - splash hidden). The splash hides
  when the program handles Continue, so the harness's own reaction (reading the windows, moving
  the pointer, clicking) between the two is left out; the second term is the check run, the
  layout and the showing of the verdict window;
- baseline: its dialog visible - start;
- design floor: timed as Qorvalin, whose windows it has.
"Visible" is the first look of the watcher (every millisecond) at which IsWindowVisible holds.
Peak memory is VmHWM of the process that runs the program (Wine executes the program in the
process the harness started), read once its window has been visible for a moment.

The display has no window manager, so unless --managed is given Wine is told not to leave its
windows to one: otherwise hiding the splash waits 2 s for a manager to acknowledge it.
"""

import argparse
import os
import queue
import statistics
import subprocess
import sys
import threading
import time

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


def missing(args):
    reasons = wine.missing_prerequisites(args.arch)
    for path, what in ((args.exe, "the program"), (args.winspy, "the window reader"),
                       (args.baseline, "the baseline program"),
                       (args.design, "the design floor program"), (args.watch, "the watcher")):
        if not os.path.isfile(path):
            reasons.append("%s %s has not been built" % (what, path))
    return reasons


class Session:
    """One X display, one Wine prefix with its server kept running, and the window watcher."""

    def __init__(self, args):
        self.args = args
        self.watcher = None
        self.wine = None
        self.events = queue.Queue()
        self.seen = {}
        try:
            self.open()
        except BaseException:
            self.close()
            raise

    def open(self):
        args = self.args
        os.makedirs(args.work, exist_ok=True)
        xvfb, display = None, args.display
        if display is None or not display_answers(display):
            xvfb, display = wine.start_xvfb(display)
        self.wine = wine.Session(args.work, args.arch, args.exe, args.winspy, prefix=args.prefix,
                                 display=display, winearch=wine.ARCHES[args.arch][1])
        self.wine.xvfb = xvfb
        if not os.path.isfile(os.path.join(args.prefix, "system.reg")):
            started = time.time()
            self.wine.run(["wineboot", "-i"], timeout=300)
            print("Made the Wine prefix %s in %.1f s" % (args.prefix, time.time() - started),
                  file=sys.stderr)
        # A server that stays up spares every start its own. It goes to the background once it
        # listens: a program started before that could start a second server of its own.
        self.wine.server("-p")
        if args.windows:
            self.wine.write_value(wine.WINE_KEY, "Version", args.windows)
        if not args.managed:
            self.wine.write_value(wine.X11_KEY, "Managed", "N")
        self.start_watcher()

    def start_watcher(self):
        self.watcher = subprocess.Popen(
            self.wine.command + [os.path.abspath(self.args.watch),
                                 "baseline:%s:%s" % (DIALOG_CLASS, BASELINE_TITLE),
                                 "splash:%s:%s" % (DIALOG_CLASS, TITLE), "main:%s" % MAIN_CLASS],
            env=self.wine.environment(), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, universal_newlines=True)

        def read():
            for line in self.watcher.stdout:
                fields = line.split()
                if len(fields) == 3:
                    self.events.put((fields[0], fields[1], int(fields[2]) / 1e6))
                elif len(fields) == 2 and fields[0] == "ready":
                    self.events.put(("watcher", "ready", int(fields[1]) / 1e6))
            self.events.put(("watcher", "ended", time.time()))

        threading.Thread(target=read, daemon=True).start()
        label, event, stamp = self.events.get(timeout=EVENT_TIMEOUT)
        if event != "ready":
            raise Failure("the window watcher did not start")
        # Both clocks are the real-time clock: the watcher's first stamp cannot lie ahead.
        if stamp > time.time() + 0.01:
            raise Failure("the watcher's clock runs ahead of the harness's")

    def begin_run(self):
        """Forgets what earlier runs showed; their last events have arrived by now."""
        while True:
            try:
                self.events.get_nowait()
            except queue.Empty:
                break
        self.seen = {}

    def wait(self, label, event):
        """When the watcher first saw LABEL's window do EVENT in this run. One look of the
        watcher may report several events, in its own order, so all of them are kept."""
        deadline = time.time() + EVENT_TIMEOUT
        while (label, event) not in self.seen:
            try:
                got = self.events.get(timeout=max(0.0, deadline - time.time()))
            except queue.Empty:
                raise Failure("timed out waiting for %s %s" % (label, event))
            if got[:2] == ("watcher", "ended"):
                raise Failure("the window watcher ended")
            self.seen.setdefault(got[:2], got[2])
        return self.seen[(label, event)]

    def close(self):
        """Ends what this session started, however far it got."""
        if self.watcher is not None and self.watcher.poll() is None:
            self.watcher.kill()
            self.watcher.wait()
        if self.wine is None:
            return
        for asked, key, name in ((self.args.windows, wine.WINE_KEY, "Version"),
                                 (not self.args.managed, wine.X11_KEY, "Managed")):
            if asked:
                try:
                    self.wine.write_value(key, name, None)
                except Failure as e:
                    print("could not take %s back out of the prefix: %s" % (name, e),
                          file=sys.stderr)
        # Waiting for the server to go spares the next session a server on its way out.
        self.wine.close()


def display_answers(number):
    env = dict(os.environ, DISPLAY=":%d" % number)
    try:
        return subprocess.run(["xdotool", "getmouselocation"], env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=10).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def peak_memory_kib(pid, exe):
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        if os.path.basename(exe).encode() not in f.read():
            raise Failure("process %d does not run %s" % (pid, exe))
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise Failure("no VmHWM for process %d" % pid)


def end(session, program, label):
    program.kill()
    program.wait()
    session.wait(label, "hidden")
    time.sleep(GAP)


def run_baseline(session):
    run = Run(session.wine, "bench-baseline")
    session.begin_run()
    start = time.time()
    program = run.start(exe=session.args.baseline)
    shown = session.wait("baseline", "shown")
    created = session.wait("baseline", "created")
    time.sleep(SETTLE)
    memory = peak_memory_kib(program.pid, session.args.baseline)
    end(session, program, "baseline")
    return {"total": shown - start, "first_window": created - start, "memory": memory}


def run_qorvalin(session, exe=None, name="bench-qorvalin"):
    exe = exe or session.args.exe
    run = Run(session.wine, name)
    session.begin_run()
    start = time.time()
    program = run.start(exe=exe)
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
    time.sleep(SETTLE)
    memory = peak_memory_kib(program.pid, exe)
    end(session, program, "main")
    return {"total": (splash_shown - start) + (shown - pressed),
            "first_window": created - start, "start_to_splash": splash_shown - start,
            "continue_to_verdict": shown - pressed,
            "reaction": pressed - splash_shown, "click_to_hidden": pressed - clicked,
            "memory": memory}


def ms(seconds):
    return "%.0f" % (seconds * 1000)


def summary(runs, args):
    base = [b for b, _, _ in runs]
    floor = [f for _, f, _ in runs]
    app = [a for _, _, a in runs]
    ratios = [a["total"] / b["total"] for b, _, a in runs]
    floor_ratios = [a["total"] / f["total"] for _, f, a in runs]
    med = lambda rows, key: statistics.median(r[key] for r in rows)
    lines = [
        "Qorvalin.exe (%s) against the baseline dialog and the design floor under Wine, %d "
        "alternating runs of each after one unmeasured warm-up run of each; Windows version "
        "seen by the programs: %s; windows %s."
        % (args.arch, len(runs), args.windows or "the prefix's default (win7)",
           "managed (Wine's default)" if args.managed else
           "not managed (X11 Driver \"Managed\"=\"N\")"),
        "",
        "| measure | median | lowest | highest |",
        "|---|---|---|---|",
    ]

    def row(what, values, fmt):
        lines.append("| %s | %s | %s | %s |" % (what, fmt(statistics.median(values)),
                                                fmt(min(values)), fmt(max(values))))

    row("baseline: start to its dialog created (ms)", [b["first_window"] for b in base], ms)
    row("baseline: start to its dialog visible, the timed figure (ms)",
        [b["total"] for b in base], ms)
    row("Qorvalin: start to its main window created, hidden (ms)",
        [a["first_window"] for a in app], ms)
    row("Qorvalin: start to splash visible (ms)", [a["start_to_splash"] for a in app], ms)
    row("Qorvalin: Continue handled to verdict window visible (ms)",
        [a["continue_to_verdict"] for a in app], ms)
    row("Qorvalin: the two together, the timed figure (ms)", [a["total"] for a in app], ms)
    row("design floor: start to splash visible (ms)", [f["start_to_splash"] for f in floor], ms)
    row("design floor: Continue handled to main window visible (ms)",
        [f["continue_to_verdict"] for f in floor], ms)
    row("design floor: the two together (ms)", [f["total"] for f in floor], ms)
    row("ratio Qorvalin / baseline, run by run", ratios, lambda v: "%.3f" % v)
    row("ratio Qorvalin / design floor, run by run", floor_ratios, lambda v: "%.3f" % v)
    row("harness: splash visible to splash hidden, left out (ms)",
        [a["reaction"] for a in app], ms)
    row("harness: Continue clicked to splash hidden (ms)", [a["click_to_hidden"] for a in app],
        ms)
    row("baseline: peak memory, VmHWM (KiB)", [b["memory"] for b in base], lambda v: "%d" % v)
    row("design floor: peak memory, VmHWM (KiB)", [f["memory"] for f in floor],
        lambda v: "%d" % v)
    row("Qorvalin: peak memory, VmHWM (KiB)", [a["memory"] for a in app], lambda v: "%d" % v)
    ratio = statistics.median(ratios)
    lines += [
        "",
        "Median ratio %.3f (goal at most 1.2: %s); the ratio of the medians is %.3f and that "
        "of the lowest times, which a busy machine disturbs least, %.3f. Peak memory above "
        "the baseline's: %d KiB (medians)."
        % (ratio, "met" if ratio <= 1.2 else "NOT MET",
           med(app, "total") / med(base, "total"),
           min(a["total"] for a in app) / min(b["total"] for b in base),
           med(app, "memory") - med(base, "memory")),
        "",
        "Against the design floor: median ratio %.3f; Qorvalin's own share, the median of "
        "its time minus the floor's in the same round, %s ms."
        % (statistics.median(floor_ratios),
           ms(statistics.median(a["total"] - f["total"] for _, f, a in runs))),
    ]
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--arch", choices=sorted(wine.ARCHES),
                        default="x86_64",
                        help="the programs' architecture: x86_64 under wine64 (the default), "
                             "i686 under 32-bit Wine")
    parser.add_argument("--exe", required=True, help="the Qorvalin.exe of that architecture")
    parser.add_argument("--baseline", required=True, help="the baseline dialog program")
    parser.add_argument("--design", required=True,
                        help="the design floor: the program's windows and no check run, built "
                             "as Qorvalin.exe in a folder of its own, the name the window "
                             "reader looks for")
    parser.add_argument("--watch", required=True, help="the window watcher, watch.exe")
    parser.add_argument("--winspy", required=True, help="the end-to-end tests' window reader")
    parser.add_argument("--work", required=True, help="a directory for logs")
    parser.add_argument("--prefix", required=True, help="the Wine prefix (made when missing)")
    parser.add_argument("--display", type=int,
                        help="the X display (started when it is not open); a free one if absent")
    parser.add_argument("--runs", type=int, default=10, help="runs of each program (at least 10)")
    parser.add_argument("--windows", help="the Windows version Wine reports, e.g. win98")
    parser.add_argument("--managed", action="store_true",
                        help="leave the windows to a window manager, as Wine does by default; "
                             "with none on the display, hiding a window then waits 2 s for it")
    args = parser.parse_args()

    reasons = missing(args)
    if reasons:
        print("Skipped the Wine measurements: %s." % "; ".join(reasons))
        return 0
    session = None
    try:
        session = Session(args)
        run_baseline(session)
        run_qorvalin(session, args.design, "bench-design")
        run_qorvalin(session)
        runs = []
        for i in range(args.runs):
            baseline = run_baseline(session)
            floor = run_qorvalin(session, args.design, "bench-design")
            qorvalin = run_qorvalin(session)
            runs.append((baseline, floor, qorvalin))
            print("run %d: baseline %s ms, design floor %s ms, Qorvalin %s ms"
                  % (i + 1, ms(baseline["total"]), ms(floor["total"]), ms(qorvalin["total"])),
                  file=sys.stderr)
    except Failure as e:
        print("Wine measurements failed: %s" % e)
        return 1
    except subprocess.TimeoutExpired as e:
        print("Wine measurements failed: %s did not end within %s s"
              % (" ".join(e.cmd), e.timeout))
        return 1
    finally:
        if session is not None:
            session.close()
    print("\n".join(summary(runs, args)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
