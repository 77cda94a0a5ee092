"""The emulated boards that the guests and the bare-metal tests run on (harness/boards.json)."""

import json
from pathlib import Path

with open(Path(__file__).with_name("boards.json")) as _f:
    BOARDS = json.load(_f)


def of(guest):
    """The boards where guest (debian, reactos or baremetal) runs."""
    return [name for name, board in BOARDS.items() if guest in board]


def qemu_options(name):
    """The options that make QEMU's machine the board."""
    board = BOARDS[name]
    return ["-M", board["machine"]] + [o for d in board["devices"] for o in ("-device", d)]
