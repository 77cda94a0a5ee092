"""The program's windows as the window reader prints them (windump.h): Window, Control, Rect."""

import re

from harness import Failure
from tools.gen_art import FRAME_SETS

EXE_NAME = "Qorvalin.exe"
# QVDUMP.EXE as the build names it, beside the program.
QVDUMP_NAME = "qvdump.exe"
MAIN_CLASS = "Qorvalin"
DIALOG_CLASS = "#32770"
TITLE = "Orvenda Qorvalin"
ABOUT_TITLE = "About Orvenda Qorvalin"
# What the splash says above its buttons.
SPLASH_TEXT = ("This program determines if your system supports Universal Serial Bus (USB) "
               "devices.\r\n\r\nPress Continue to perform the tests or Close to exit the program.")

ESCAPES = {"r": "\r", "n": "\n", "t": "\t", "\\": "\\"}


def unescape(text):
    """The reader's escapes back to a str whose characters are the code page 1252 bytes."""
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)",
                  lambda m: ESCAPES.get(m[1], m[1]) if len(m[1]) == 1 else chr(int(m[1][1:], 16)),
                  text, flags=re.S)


def escape(text):
    """A text as the window reader writes it (the reverse of unescape)."""
    named = {v: "\\" + k for k, v in ESCAPES.items()}
    return "".join(named.get(c) or (c if " " <= c <= "~" else "\\x%02x" % ord(c)) for c in text)


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
        self.hwnd, self.parent, self.style = (int(fields[k], 0)
                                              for k in ("hwnd", "parent", "style"))
        self.id = int(fields["id"])
        self.cls, self.raw_text = fields["class"], fields["text"]
        self.text = unescape(self.raw_text)
        self.visible, self.enabled = (fields[k] == "1" for k in ("visible", "enabled"))
        self.rect = Rect(fields["rect"])
        self.items, self.raw_items = [], []


class Window:
    def __init__(self, fields):
        self.hwnd, self.style, self.owner, self.focus, self.active, self.xwin = (
            int(fields[k], 0) for k in ("hwnd", "style", "owner", "focus", "active", "xwin"))
        self.pid = int(fields["pid"])
        self.cls, self.title = fields["class"], unescape(fields["title"])
        self.visible, self.enabled = (fields[k] == "1" for k in ("visible", "enabled"))
        self.rect, self.client = Rect(fields["rect"]), Rect(fields["client"])
        self.controls = []

    def control(self, ident):
        found = [c for c in self.controls if c.id == ident and c.parent == self.hwnd]
        if len(found) != 1:
            raise Failure("window %r has %d controls with id %d" % (self.title, len(found), ident))
        return found[0]

    def focused_id(self):
        return next((c.id for c in self.controls if c.hwnd == self.focus), None)

    def __repr__(self):
        return "<%s %r %s visible=%d enabled=%d>" % (self.cls, self.title, self.rect,
                                                      self.visible, self.enabled)


def parse_snapshot(text):
    """The windows of the reader's lines, each with its controls and their items."""
    windows, by_hwnd = [], {}
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


def visible_one(windows, cls, title=None, where=lambda window: True):
    """The one window of the class (and title), where it is visible and where(window) holds."""
    w = one(windows, cls, title)
    return w if w is not None and w.visible and where(w) else None


# The light and dark colours of each verdict's icon frames, as the art is drawn.
FRAME_COLOURS = {prefix: {light, dark} for _, prefix, light, dark in FRAME_SETS}
