"""The window reader: one "winspy --serve" in a Wine session, asked over a pipe."""

import contextlib
import os
import select
import subprocess
import time

from harness import Failure

END = b"end\r\n"
# While an answer is awaited, how often the reader is looked at to see whether it still lives: a
# Wine service that inherited its output would keep the end of that output from showing.
LOOK = 0.25


class Ended(Exception):
    """The reader went away before it answered."""


class WindowReader:
    """The window reader of a session (harness.wine.Session): ask(request) gives what "winspy"
    prints with the request on its command line. A Wine process a look would cost up to a
    second here and seconds in the emulated guest, and the tests look many times a second; so
    the reader stays, started on the first request after none runs: a "wineserver -k" that
    ends it costs the next request a start, never a wait."""

    def __init__(self, session):
        self.session = session
        self.process = None
        # What the running reader was started with: a reader answers as one started per look
        # only when it is still the session's.
        self.made = None
        # A request whose answer was not read to its end, which may still come.
        self.pending = False

    def wanted(self):
        """The reader's command and environment, and what of them must stay for it to stay:
        the command and Wine's own variables (the rest, pytest's included, changes freely)."""
        command = self.session.command + [str(self.session.winspy), "--serve"]
        env = self.session.environment()
        return command, env, [command, sorted((name, value) for name, value in env.items()
                                               if name.startswith("WINE") or name == "DISPLAY")]

    def log(self, text):
        with open(self.session.log_path("window-reader.log"), "a") as log:
            log.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))

    def start(self, why):
        command, env, self.made = self.wanted()
        with open(self.session.log_path("wine-stderr.log"), "ab") as errors:
            self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, stderr=errors,
                                            start_new_session=True)
        os.set_blocking(self.process.stdout.fileno(), False)
        self.pending = False
        self.log("started pid %d: %s" % (self.process.pid, why))

    def stop(self, why):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.kill()
            self.log("stopped pid %d: %s" % (self.process.pid, why))
        self.process.wait()
        for end in (self.process.stdin, self.process.stdout):
            with contextlib.suppress(OSError):
                end.close()
        self.process = None

    def exchange(self, request, timeout):
        """Sends the request and reads its answer up to the "end" line."""
        self.pending = True
        try:
            self.process.stdin.write(request.encode("latin-1") + b"\n")
            self.process.stdin.flush()
        except OSError as e:
            raise Ended("its input takes nothing: %s" % e)
        source = self.process.stdout.fileno()
        answer = bytearray()
        deadline = time.monotonic() + timeout
        while not (answer == END or answer.endswith(b"\n" + END)):
            if self.session.overdue(deadline):
                why = "no answer to %r within %d s" % (request, timeout)
                pid = self.process.pid
                self.stop(why)
                raise Failure("the window reader (pid %d) gave %s; it was stopped, and the next "
                              "look at the windows starts another" % (pid, why))
            if select.select([source], [], [], LOOK)[0]:
                chunk = os.read(source, 1 << 16)
                if not chunk:
                    raise Ended("its output ended")
                answer += chunk
            elif self.process.poll() is not None:
                raise Ended("it ended")
        self.pending = False
        text = bytes(answer[:-len(END)]).decode("latin-1")
        if text.startswith("error\t"):
            raise Failure("the window reader refused %r: %s" % (request, text.strip()))
        return text

    def ask(self, request, timeout=30, fresh=False):
        """The reader's answer to the request; fresh: from a reader started for this request."""
        if self.process is None:
            why = "none was running"
        elif self.process.poll() is not None:
            why = "pid %d had ended" % self.process.pid
        elif self.pending:
            why = "pid %d was left with a request unanswered" % self.process.pid
        elif self.made != self.wanted()[2]:
            why = "the command or environment of Wine changed"
        elif fresh:
            why = "a version record is asked for, and Wine fixes it as a process starts"
        else:
            why = None
        if why is not None:
            self.stop(why)
        for _ in range(2):
            if self.process is None:
                self.start(why)
            try:
                return self.exchange(request, timeout)
            except Ended as e:
                why = "pid %d ended before it answered %r: %s" % (self.process.pid, request, e)
                self.stop(why)
        raise Failure("the window reader ended twice before it answered %r; Wine's messages are "
                      "in %s" % (request, self.session.log_path("wine-stderr.log")))

    def fields(self, request, timeout=30, fresh=False):
        """The NAME=VALUE fields of the reader's one-line answer, after its first word."""
        answer = self.ask(request, timeout, fresh).rstrip("\r\n").split("\t")[1:]
        return dict(field.split("=", 1) for field in answer)
