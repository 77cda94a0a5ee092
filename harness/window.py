"""The program's windows as the window reader prints them (windump.h): Window, Control, Rect."""

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
            out.append(ESCAPES.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


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
    """The windows of the reader's lines, each with its controls and their items."""
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


# The light and dark colours of each verdict's icon frames, as the art is drawn.
FRAME_COLOURS = {prefix: {light, dark} for _, prefix, light, dark in FRAME_SETS}
