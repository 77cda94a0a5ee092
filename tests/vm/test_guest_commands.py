"""The guests' command as docs/vm.md and docs/reactos.md give it, on one board each: a report
in the simulator's form, and a refresh of the recordings kept, which a guest that answers as it
did leaves as they are. A guest that cannot be had here (exit status 3) is a skip."""

import filecmp
import shutil
import subprocess
import sys

import pytest

from harness import build, recordings

REPORTS = {
    "debian": ["--guest", "debian", "--board", "pc", "--windows", "win95"],
    "reactos": ["--guest", "reactos", "--board", "pc"],
}
# The board each guest's refresh boots, and the recordings it keeps there.
REFRESHED = {"debian": "q35", "reactos": "pc"}


def guest_command(*args):
    said = subprocess.run([sys.executable, "-m", "tools.guest"] + [str(a) for a in args],
                          cwd=build.ROOT, capture_output=True, text=True, timeout=1200)
    if said.returncode == 3:
        pytest.skip(said.stderr.strip().splitlines()[-1])
    assert said.returncode == 0, said.stderr
    return said.stdout.splitlines()


@pytest.mark.parametrize("guest", REPORTS)
def test_report(guest):
    lines = guest_command("report", *REPORTS[guest])
    keys = [line.partition(": ")[0] for line in lines]
    assert keys[:2] == ["headline", "panel"] and keys[-1] == "exit"
    after = "pci" if guest == "debian" else "shown"
    assert set(keys[2:-1]) <= {"detail", after} and after in keys
    assert lines[-1] == "exit: 0"


@pytest.mark.parametrize("guest", REFRESHED)
def test_refresh_keeps_what_the_guest_still_answers(guest, tmp_path):
    board = REFRESHED[guest]
    kept = [recordings.path(g, b, m) for g, b, m in recordings.kept() if (g, b) == (guest, board)]
    for path in kept:
        for suffix in (".json", ".expected"):
            shutil.copy(path.with_suffix(suffix), tmp_path)
    lines = guest_command("refresh", "--guest", guest, "--board", board, "--into", tmp_path)
    assert lines == ["%s: unchanged" % recordings.path(guest, board, mode, tmp_path)
                     for g, b, mode in recordings.kept() if (g, b) == (guest, board)]
    assert filecmp.cmpfiles(recordings.FOLDER, tmp_path, [p.name for p in kept],
                            shallow=False)[0] == [p.name for p in kept]
