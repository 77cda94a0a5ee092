"""The programs' messages and dialog controls, as the build generated them from
report/catalogue.txt and report/controls.h (Qorvalin's) and dump/catalogue.txt (QVDUMP's): each
symbol is a name of this module with its number (MSG_PIIX4_USB, IDC_CLOSE, MSG_DUMP_TITLE), and
TEXTS and DUMP_TEXTS hold each message's text by number."""

import json

from harness import build


def _load(name):
    with open(build.path(name)) as f:
        generated = json.load(f)
    globals().update({symbol: number for symbol, (number, _) in generated["messages"].items()})
    globals().update(generated["controls"])
    return {number: text for number, text in generated["messages"].values()}


TEXTS = _load("catalogue")
DUMP_TEXTS = _load("qvdump_catalogue")


def text(number):
    """A message's text, as the catalogue holds it (no escapes)."""
    return TEXTS[number]


def dump_text(number):
    """A message of QVDUMP's catalogue."""
    return DUMP_TEXTS[number]
