"""The machines that other systems answered, as QVDUMP.EXE recorded them in the guests: each
tests/scenarios/guests/GUEST-BOARD[-MODE].json, a recording with where and when it was made in
its why, beside its NAME.expected, as golden scenarios. Which ones are kept is harness/boards.json's
("recorded" of a board's debian runs; every reactos board)."""

import datetime
import difflib
import json
from pathlib import Path

from harness import Failure, boards, golden, observation, sim

FOLDER = golden.FOLDER / "guests"
# The recorder's own first sentence, which a kept recording follows with where it was made.
RECORDED_BY = ("Recorded by QVDUMP.EXE: what this machine answered to the questions Qorvalin "
               "asks.")


def kept():
    """(guest, board, Windows mode or None) of every recording the guests keep."""
    return ([("debian", board, mode) for board in boards.of("debian")
             for mode in boards.BOARDS[board]["debian"].get("recorded", [])] +
            [("reactos", board, None) for board in boards.of("reactos")])


def path(guest, board, mode=None, folder=FOLDER):
    return Path(folder) / ("-".join(filter(None, (guest, board, mode))) + ".json")


def comparable(text):
    """What a recording says of the machine: all of it but its why members (what made it, where,
    and what was not followed). Nothing else changes from one boot to the next of one image."""
    machine = json.loads(text)
    machine.pop("why", None)
    if isinstance(machine.get("cfgmgr"), dict):
        machine["cfgmgr"].pop("why", None)
    return json.dumps(machine, indent=1, sort_keys=True).splitlines()


def differences(fresh, guest, board, mode=None, folder=FOLDER):
    """The lines in which a fresh recording differs from the one kept (in folder), as a unified
    diff; empty when they agree."""
    kept_path = path(guest, board, mode, folder)
    if not kept_path.exists():
        return ["no recording is kept in %s" % kept_path]
    return list(difflib.unified_diff(comparable(kept_path.read_text()), comparable(fresh),
                                     str(kept_path), "the fresh recording", lineterm="", n=2))


def keep(fresh, where, seen, simulator, guest, board, mode=None, folder=FOLDER):
    """Keeps the fresh recording in folder, with where (a sentence: which guest, image and
    board) and today's date in its why, and its expected report, once its replay shows what the
    window showed (seen, the run's Observation). A recording that says what the kept one says
    leaves both files as they are. Returns whether they were written."""
    target = path(guest, board, mode, folder)
    if target.exists() and not differences(fresh, guest, board, mode, folder):
        return False
    text = fresh.replace("\r\n", "\n")
    if RECORDED_BY not in text:
        raise Failure("the recording does not start as QVDUMP.EXE's do: %r" % text[:80])
    text = text.replace(RECORDED_BY, "%s %s, %s." % (RECORDED_BY, where,
                                                     datetime.date.today().isoformat()), 1)
    target.parent.mkdir(parents=True, exist_ok=True)
    scratch = target.with_suffix(".new")
    scratch.write_text(text)
    try:
        observation.check(seen, sim.replay(simulator, scratch), "the replay of the recording")
        report = golden.run(simulator, scratch)
        target.with_suffix(".expected").write_bytes(report.stdout)
        scratch.replace(target)
    finally:
        scratch.unlink(missing_ok=True)
    return True
