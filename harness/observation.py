"""What one run of the program showed, observed alike wherever it ran (under Wine on the host, in
the Debian guest, on ReactOS), and its one comparison with the simulator's report of the same
machine."""

import difflib
from dataclasses import dataclass, field
from typing import List, Optional

from harness import Failure, catalogue
from harness.win32 import WS_MAXIMIZE, WS_MINIMIZE

# What the window shows that the simulator's report says too, in the report's order.
SHOWN_PARTS = ("headline", "panel", "detail")


@dataclass
class Observation:
    """Texts as the simulator prints them (escaped, harness/window.py)."""
    headline: Optional[str] = None
    panel: Optional[str] = None
    detail: List[str] = field(default_factory=list)
    frames: Optional[str] = None     # the verdicts whose icon colours were on the screen
    shown: Optional[str] = None      # how the window first appeared: visible, state, size, focus
    exit: Optional[int] = None
    recording: Optional[str] = None  # QVDUMP.EXE's recording of the machine, where it made one

    def lines(self, parts=SHOWN_PARTS + ("frames", "shown", "exit"), between=()):
        """The parts known, one line each (a Details line each), as the simulator's report
        writes them, with the lines between (pci: ...) before shown: or exit:."""
        lines = []
        for part in parts:
            value = getattr(self, part)
            if part in ("shown", "exit"):
                lines, between = lines + list(between), ()
            if part == "detail":
                lines += ["detail: " + line for line in value]
            elif value is not None:
                lines.append("%s: %s" % (part, value))
        return lines


def of_window(main, expanded=None):
    """The main window read after Continue (its Details list from expanded, the window after
    "Details >>", where one was read)."""
    listing = expanded if expanded is not None else main
    return Observation(headline=main.control(catalogue.IDC_HEADLINE).raw_text,
                       panel=main.control(catalogue.IDC_MORE_INFO).raw_text,
                       detail=listing.control(catalogue.IDC_DETAILS_LIST).raw_items)


def main_window(windows):
    """The program's main window: the one holding the Details list."""
    return next((w for w in windows if any(c.id == catalogue.IDC_DETAILS_LIST and
                                           c.parent == w.hwnd for c in w.controls)), None)


def shown(windows):
    """How the main window first appeared: visible or not, its state, its size (compact: cut
    off at the Details label, as the program shrinks it) and the focused control."""
    main = main_window(windows)
    if main is None:
        return "no main window"
    state = ("minimized" if main.style & WS_MINIMIZE else
             "maximized" if main.style & WS_MAXIMIZE else "normal")
    label = main.control(catalogue.IDC_DETAILS_LABEL)
    size = "compact" if main.rect.bottom == label.rect.top else "%dx%d" % (main.rect.width,
                                                                           main.rect.height)
    focus = {catalogue.IDC_CLOSE: "close", catalogue.IDC_ABOUT: "about",
             catalogue.IDC_DETAILS: "details"}.get(main.focused_id(), "none")
    return "%s %s %s focus=%s" % ("visible" if main.visible else "hidden", state, size, focus)


def of_run(run, recording=None):
    """What a run a guest reported showed (harness/guest.py's parse): the window after
    Continue, its Details list read after "Details >>" where that was looked at, how the window
    first appeared and the exit code, with QVDUMP's recording of the machine."""
    verdict = run["snapshots"].get("verdict", [])
    main, full = main_window(verdict), main_window(run["snapshots"].get("details") or verdict)
    seen = of_window(main, full) if main is not None and full is not None else Observation()
    seen.shown, seen.exit, seen.recording = shown(verdict), run["exit"], recording
    return seen


def differences(observed, report, parts=SHOWN_PARTS, what="the simulator"):
    """The lines in which the observation and what's report (sim.replay's) differ, as a unified
    diff; empty when they agree."""
    expected = Observation(**{part: report.get(part) for part in parts})
    return list(difflib.unified_diff(expected.lines(parts), observed.lines(parts), what,
                                     "the window", lineterm="", n=1))


def check(observed, report, what="the simulator", parts=SHOWN_PARTS):
    """The observation shows what the report says; else Failure with the lines that differ."""
    differing = differences(observed, report, parts, what)
    if differing:
        raise Failure("the window against %s:\n%s" % (what, "\n".join(differing)))
