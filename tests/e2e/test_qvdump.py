"""Under Wine: QVDUMP.EXE as a user starts it. With no file named, the Save dialog offers
QVDUMP.TXT on the desktop; a folder that cannot be written is told, and the dialog comes again on
the desktop; the message names the file saved, which replays to what Qorvalin shows on the
machine Wine presents. With a file named, as a document dropped on it names one, it writes a new
file or replaces an empty one or a recording, and leaves any other file as it was."""

import contextlib
import subprocess

import pytest

from harness import Unavailable
from harness import catalogue as c
from harness import sim
from harness.window import DIALOG_CLASS, QVDUMP_NAME, visible_one
from harness.wine import windows_path

TITLE = c.dump_text(c.MSG_DUMP_TITLE)
SHELL_FOLDERS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
LOOK_IN = 0x471  # the Save dialog's list of folders: its text is the folder shown
LETTER = b"Dear Ms Lindqvist,\r\n\r\nthank you for your letter of 3 May.\r\n"


def message(box):
    """A message box's text: its one static control with text."""
    texts = [control.text for control in box.controls
             if control.cls.upper() == "STATIC" and control.text]
    assert len(texts) == 1, "text controls of the message box %r" % box
    return texts[0]


def save_as(run, program, path):
    save = run.dialog(program, c.dump_text(c.MSG_DUMP_SAVE_TITLE), "the Save dialog")
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


def offered(run, program):
    """The folder that the Save dialog shows once it offers the file name QVDUMP.TXT."""
    name = c.dump_text(c.MSG_DUMP_FILE_NAME)
    return run.wait_settled(
        lambda ws: visible_one(ws, DIALOG_CLASS, c.dump_text(c.MSG_DUMP_SAVE_TITLE),
                               lambda save: any(control.text == name for control in save.controls)),
        "the Save dialog offering %s" % name, program).control(LOOK_IN).text


def test_a_user_saves_a_recording(run):
    run.watched = QVDUMP_NAME
    folder = run.session.work / "qvdump-user"
    folder.mkdir(parents=True, exist_ok=True)
    saved = folder / c.dump_text(c.MSG_DUMP_FILE_NAME)
    saved.unlink(missing_ok=True)
    # The registry's copy of the desktop folder, kept for older programs, may be stale: the
    # shell's answer is the one offered.
    stale = folder.parent / "stale-desktop"
    stale.mkdir(exist_ok=True)
    kept = run.session.query_value(SHELL_FOLDERS, "Desktop")
    run.session.write_value(SHELL_FOLDERS, "Desktop", windows_path(stale))
    try:
        program = run.start(exe=run.session.exe.parent / QVDUMP_NAME)
        desktop = offered(run, program)
    finally:
        run.session.write_value(SHELL_FOLDERS, "Desktop", kept)
    assert desktop != stale.name
    with unwritable(folder.parent / "qvdump-locked") as locked:
        refused = windows_path(locked / c.dump_text(c.MSG_DUMP_FILE_NAME))
        save_as(run, program, refused)
        box = run.dialog(program, TITLE, "the message that the file was not written")
        told = message(box)
        assert list(locked.iterdir()) == [], "files left in the unwritable folder"
    assert told.startswith(c.dump_text(c.MSG_DUMP_NOT_WRITTEN) % refused), "the message"
    assert told.endswith(c.dump_text(c.MSG_DUMP_CHOOSE_AGAIN)), "the message"
    run.key(box, "Return")

    # Offered again on the desktop, not in the folder that could not be written.
    assert offered(run, program) == desktop
    save_as(run, program, windows_path(saved))
    box = run.dialog(program, TITLE, "the message that the file was written")
    size = saved.stat().st_size
    written = c.dump_text(c.MSG_DUMP_WRITTEN).replace("%lu", "%d") % (windows_path(saved), size)
    assert message(box).split("\r\n\r\n") == [
        written, c.dump_text(c.MSG_DUMP_WHAT), c.dump_text(c.MSG_DUMP_HOW)], "the message"
    run.key(box, "Return")
    assert run.wait_exit(program) == 0, "QVDUMP's exit code"
    assert sorted(p.name for p in folder.iterdir()) == [saved.name], "files in the folder"

    expected = sim.simulate(run.session.sim, sim.wine_scenario(run.session), folder.parent)
    replayed = sim.replay(run.session.sim, saved)
    for part in ("headline", "panel", "detail", "verdict"):
        assert replayed[part] == expected[part], "%s: the recording vs the simulator" % part


@pytest.mark.parametrize("before, written", [
    pytest.param(None, True, id="a new file"),
    pytest.param(b"", True, id="an empty file"),
    # Longer than the recording that replaces it: the new one must not keep its end.
    pytest.param("recording", True, id="an earlier, longer recording"),
    pytest.param(LETTER, False, id="a user's letter"),
    pytest.param(b"{\r\n  \"version\": {}\r\n}\r\n", False, id="a scenario written by hand"),
])
def test_a_file_named_on_the_command_line(run, before, written):
    run.watched = QVDUMP_NAME
    folder = run.session.work / "qvdump-named"
    folder.mkdir(parents=True, exist_ok=True)
    reference = folder / "reference.txt"
    assert sim.record(run, reference)[0] == 0
    path = folder / "letter.doc"
    path.unlink(missing_ok=True)
    if before == "recording":
        before = reference.read_bytes() + b" " * 4096
    if before is not None:
        path.write_bytes(before)
    program = sim.start_recording(run, path)
    if written:
        assert run.wait_exit(program) == 0
        assert path.read_bytes() == reference.read_bytes()
        return
    box = run.dialog(program, TITLE, "the message that the file was left alone")
    assert message(box).split("\r\n\r\n") == [
        c.dump_text(c.MSG_DUMP_NOT_A_RECORDING) % windows_path(path),
        c.dump_text(c.MSG_DUMP_NAME_ANOTHER)]
    run.key(box, "Return")
    assert run.wait_exit(program) == 1
    assert path.read_bytes() == before
