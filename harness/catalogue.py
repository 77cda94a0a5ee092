"""The program's messages and dialog controls, as the build generated them from
report/catalogue.txt and report/controls.h: each symbol is a name of this module with its number
(MSG_PIIX4_USB, IDC_CLOSE), and TEXTS holds each message's text by number."""

import json

from harness import build

with open(build.path("catalogue")) as _f:
    _generated = json.load(_f)

TEXTS = {number: text for number, text in _generated["messages"].values()}
globals().update({symbol: number for symbol, (number, _) in _generated["messages"].items()})
globals().update(_generated["controls"])


def text(number):
    """A message's text, as the catalogue holds it (no escapes)."""
    return TEXTS[number]
