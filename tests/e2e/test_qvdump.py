"""Under Wine: QVDUMP.EXE as a user starts it, with no file named. The Save dialog offers
QVDUMP.TXT; a folder that cannot be written is told, and the dialog comes again; the message
names the file saved, which replays to what Qorvalin shows on the machine Wine presents."""

import contextlib
import subprocess

from harness import Unavailable
from harness import catalogue as c
from harness import check, check_equal, sim
from harness.window import DIALOG_CLASS, QVDUMP_NAME, visible_one
from harness.wine import windows_path

TITLE = c.dump_text(c.MSG_DUMP_TITLE)


def dialog(run, program, title, what):
    return run.wait_settled(lambda ws: visible_one(ws, DIALOG_CLASS, title), what, program)


def message(box):
    """A message box's text: its one static control with text."""
    texts = [control.text for control in box.controls if control.cls.upper() == "STATIC"
             and control.text]
    check_equal(len(texts), 1, "text controls of the message box %r" % box)
    return texts[0]


def save_as(run, program, path):
    save = dialog(run, program, c.dump_text(c.MSG_DUMP_SAVE_TITLE), "the Save dialog")
    run.key(save, "ctrl+a")
    run.type(save, path)
    run.key(save, "Return")


@contextlib.contextmanager
def unwritable(folder):
    """A folder in which nothing, not even root, can make a file: immutable while it is used."""
    folder.mkdir(parents=True, exist_ok=True)
    locked = subprocess.run(["chattr", "+i", str(folder)], capture_output=True, text=True)
    if locked.returncode != 0:
        raise Unavailable("chattr +i cannot make a folder unwritable here: " + locked.stderr)
    try:
        yield folder
    finally:
        subprocess.run(["chattr", "-i", str(folder)], check=True)


def test_a_user_saves_a_recording(run):
    run.watched = QVDUMP_NAME
    folder = run.session.work / "qvdump-user"
    folder.mkdir(parents=True, exist_ok=True)
    saved = folder / c.dump_text(c.MSG_DUMP_FILE_NAME)
    saved.unlink(missing_ok=True)
    program = run.start(exe=run.session.exe.parent / QVDUMP_NAME)

    offered = dialog(run, program, c.dump_text(c.MSG_DUMP_SAVE_TITLE), "the Save dialog")
    check(any(control.text == c.dump_text(c.MSG_DUMP_FILE_NAME) for control in offered.controls),
          "the Save dialog offers the file name: %r" % offered)
    with unwritable(folder.parent / "qvdump-locked") as locked:
        refused = windows_path(locked / c.dump_text(c.MSG_DUMP_FILE_NAME))
        save_as(run, program, refused)
        box = dialog(run, program, TITLE, "the message that the file was not written")
        told = message(box)
        check_equal(list(locked.iterdir()), [], "files left in the unwritable folder")
    check(told.startswith(c.dump_text(c.MSG_DUMP_NOT_WRITTEN) % refused) and
          told.endswith(c.dump_text(c.MSG_DUMP_CHOOSE_AGAIN)), "the message: %r" % told)
    run.key(box, "Return")

    save_as(run, program, windows_path(saved))
    box = dialog(run, program, TITLE, "the message that the file was written")
    size = saved.stat().st_size
    check_equal(message(box).split("\r\n\r\n"),
                [c.dump_text(c.MSG_DUMP_WRITTEN).replace("%lu", "%d") % (windows_path(saved),
                                                                         size),
                 c.dump_text(c.MSG_DUMP_WHAT), c.dump_text(c.MSG_DUMP_HOW)], "the message")
    run.key(box, "Return")
    check_equal(run.wait_exit(program), 0, "QVDUMP's exit code")
    check_equal(sorted(p.name for p in folder.iterdir()), [saved.name], "files in the folder")

    expected = sim.simulate(run.session.sim, sim.wine_scenario(run.session), folder.parent)
    replayed = sim.replay(run.session.sim, saved)
    for part in ("headline", "panel", "detail", "verdict"):
        check_equal(replayed[part], expected[part], "%s: the recording vs the simulator" % part)
