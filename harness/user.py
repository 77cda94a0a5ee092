"""One test's run of the program in a Wine session, and the user's eyes and hands: Run."""

import os
import re
import subprocess
import time
from pathlib import Path

from harness import Failure
from harness.catalogue import IDC_CLOSE, IDC_CONTINUE, IDC_HEADLINE
from harness.window import (ABOUT_TITLE, DIALOG_CLASS, EXE_NAME, MAIN_CLASS, TITLE,
                            parse_snapshot, visible_one)

# The waits look at the windows this often (a look costs the reader a few milliseconds).
LOOK_INTERVAL = 0.05
# How long the X input focus may take to reach a window, and to be reported for it.
FOCUS_TIMEOUT = 10


def read_ppm(data):
    """Rows of (r, g, b) tuples from an 8-bit binary PPM."""
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not match or match.group(3) != b"255":
        raise Failure("unexpected picture from import")
    width, height = int(match.group(1)), int(match.group(2))
    body = data[match.end():]
    return [[tuple(body[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]


class Run:
    """The programs one test starts in the session (harness.wine.Session), named for logs."""

    def __init__(self, session, name):
        self.session, self.name = session, name
        self.programs, self.last_snapshot = [], ""
        # The program whose windows the run looks at, by its file's name.
        self.watched = EXE_NAME

    def start(self, wine_debug="-all,err+all", dll_overrides="", exe=None, env=None, args=()):
        """Starts the program (the session's, or exe) with args, these DLL overrides and variables
        besides the session's; Wine logs its errors and what wine_debug names into program.log."""
        environment = dict(self.session.environment(wine_debug, dll_overrides), **(env or {}))
        path = self.session.log_path("%s-%d.log" % (self.name, len(self.programs) + 1))
        exe = Path(exe or self.session.exe).resolve()
        with open(path, "wb") as out:
            program = subprocess.Popen(self.session.command + [str(exe)] + list(args),
                                       env=environment, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=out)
        program.log = path
        self.programs.append(program)
        return program

    def until(self, look, timeout, failure):
        """look() every LOOK_INTERVAL until it gives a true value, returned; Failure(failure())
        once the timeout is overdue."""
        deadline = time.monotonic() + timeout
        while not (found := look()):
            if self.session.overdue(deadline):
                raise Failure(failure())
            time.sleep(LOOK_INTERVAL)
        return found

    def wait_exit(self, program, timeout=20):
        self.until(lambda: program.poll() is not None, timeout,
                   lambda: "the program did not end within %d s" % timeout)
        return program.returncode

    def stop_all(self):
        for program in self.programs:
            if program.poll() is None:
                program.kill()
                program.wait()
        self.until(lambda: not self.snapshot(), 10,
                   lambda: "windows of the program stay after it was stopped")

    def failure_report(self):
        """What a failed test leaves for its reader: a picture of the screen, the windows last
        seen and the end of Wine's log of each program."""
        lines = ["screen at the failure: %s"
                 % self.screenshot(self.session.log_path(self.name + ".png")),
                 "last windows seen:\n%s" % self.last_snapshot]
        for program in self.programs:
            tail = program.log.read_text(encoding="latin-1").splitlines()[-40:]
            lines.append("Wine's log of the program, %s (its end):\n%s"
                         % (program.log, "\n".join(tail)))
        return "\n".join(lines)

    # Eyes

    def snapshot(self):
        """Every top-level window of the program (its IME helper left out)."""
        self.last_snapshot = self.session.window_reader.ask("windows " + self.watched, timeout=30)
        return [w for w in parse_snapshot(self.last_snapshot) if w.cls != "IME"]

    def sync(self):
        """Waits until every window of the program has answered a message, which its thread
        does from its message loop once it has done with the message it was handling (5 s at
        most a window), and returns the reader's answer: windows, answered, foreground."""
        answer = self.session.window_reader.fields("sync " + self.watched, timeout=60)
        return {name: int(value, 0) for name, value in answer.items()}

    def wait_for(self, predicate, what, program=None, timeout=30, synced=False):
        """Polls the windows until predicate(windows) gives a true value, and returns it; synced:
        each look only once the program's windows answered (sync), none while one does not."""
        deadline = time.monotonic() + timeout
        while True:
            if program is not None and program.poll() is not None:
                raise Failure("the program ended (exit %d) while waiting for %s"
                              % (program.returncode, what))
            answers = self.sync() if synced else {"windows": 0, "answered": 0}
            hung = answers["windows"] - answers["answered"]
            windows = None if hung else self.snapshot()
            found = windows is not None and predicate(windows)
            if found:
                return found
            if self.session.overdue(deadline):
                raise Failure("timed out after %d s waiting for %s" % (timeout, what) + (
                    ": %d windows of the program do not answer" % hung if hung else
                    "; windows: %r" % (windows,)))
            time.sleep(LOOK_INTERVAL)

    def wait_settled(self, predicate, what, program=None, timeout=30):
        """Like wait_for, once two looks after the windows answered (sync) found them the same:
        sizes, visibility and focus arrive through the message loop, so a first match may be
        half-way, and a message being handled at the first look is done by the second."""
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
        return self.wait_settled(lambda ws: visible_one(ws, MAIN_CLASS, where=condition), what,
                                 program, timeout)

    def dialog(self, program, title, what):
        return self.wait_settled(lambda ws: visible_one(ws, DIALOG_CLASS, title), what, program)

    def splash(self, program):
        return self.dialog(program, TITLE, "the splash dialog")

    def main_window(self, program, timeout=60):
        return self.main_when(program, "the main window", lambda main: True, timeout)

    def continue_to_verdict(self, program):
        self.click(self.splash(program).control(IDC_CONTINUE))
        return self.main_when(program, "the verdict", lambda m: m.control(IDC_HEADLINE).text, 60)

    def close(self, program, main):
        self.click(main.control(IDC_CLOSE))
        return self.wait_exit(program)

    def about(self, program):
        return self.dialog(program, ABOUT_TITLE, "the About box")

    def import_screen(self, rect, *output):
        """ImageMagick's import of the screen, or of rect on it, into output."""
        args = ["import", "-display", ":%d" % self.session.display, "-window", "root"]
        if rect is not None:
            args += ["-crop", "%dx%d+%d+%d" % (rect.width, rect.height, rect.left, rect.top),
                     "+repage"]
        return subprocess.run(args + [str(o) for o in output],
                              env=self.session.x_environment(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, check=True, timeout=30).stdout

    def screenshot(self, path, rect=None):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        self.import_screen(rect, path)
        return path

    def pixels(self, rect):
        """The screen inside rect as rows of (r, g, b) tuples."""
        return read_ppm(self.import_screen(rect, "-depth", "8", "ppm:-"))

    # Hands

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.session.x_environment(),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True,
                       timeout=30)

    def point(self, x, y):
        # Not --sync: xdotool would wait for a motion that never comes when the pointer is
        # already there.
        self.xdotool("mousemove", x, y)

    def click_at(self, x, y):
        self.point(x, y)
        time.sleep(0.1)
        self.xdotool("click", "1")

    def click(self, control):
        self.click_at(*control.rect.centre)

    def click_close_box(self, window):
        """The close box sits at the right end of the title bar that Wine draws."""
        caption = window.client.top - window.rect.top
        self.click_at(window.rect.right - caption // 2 - 2,
                      (window.rect.top + window.client.top) // 2)

    def focus(self, window):
        """Gives the window the X input focus, as a window manager does for the window in
        front (with none, Wine would ignore the keyboard), and waits until Wine has the window
        in front, where it sends the keys, and the program answers from its message loop."""
        self.xdotool("windowfocus", "--sync", window.xwin)
        answers = {}

        def in_front():
            answers.update(self.sync())
            return (answers["foreground"] == window.hwnd
                    and answers["answered"] == answers["windows"])
        self.until(in_front, FOCUS_TIMEOUT,
                   lambda: "%r is not in front with its program answering %d s after it got "
                           "the X input focus: %r" % (window, FOCUS_TIMEOUT, answers))

    def key(self, window, keys):
        self.focus(window)
        self.xdotool("key", keys)

    def type(self, window, text):
        self.focus(window)
        self.xdotool("type", "--delay", "30", text)

    def drag_title(self, window, dx, dy):
        """Drags the window by its title bar."""
        x, y = window.rect.centre[0], (window.rect.top + window.client.top) // 2
        self.point(x, y)
        time.sleep(0.1)
        self.xdotool("mousedown", "1")
        steps = 8
        for i in range(1, steps + 1):
            time.sleep(0.05)
            self.point(x + dx * i // steps, y + dy * i // steps)
        time.sleep(0.2)
        self.xdotool("mouseup", "1")
