"""The reactos tests: one boot of a ReactOS live CD per board, QVDUMP.EXE and the i686 program
started from its release CD by the guest's driver, and what the program's windows show held to
qorvalin-sim's replay of the scenario that QVDUMP recorded on the same boot. They never build
the live CD (an hour): they take $QORVALIN_REACTOS_ISO, else the one built last, and are
skipped without."""

import os

import pytest

from harness import boards, build, catalogue, guest, observation, reactos_guest, recordings, window
from harness.observation import main_window

BOARDS = boards.of("reactos")
# A boot and its runs take under two minutes; guest.BOOTS of them fit CTest's limit (1300 s).
BOOT_SECONDS = 420


@pytest.fixture(scope="module")
def boot(board):
    """The board's one boot, which pytest keeps (or its failure) for the board's cases: what the
    driver found, the simulator's report and verdict on QVDUMP's recording of the machine."""
    folder = build.FOLDER / "tests" / "reactos" / board
    machine, found = reactos_guest.boot(board, build.path("win32_exe"), folder, BOOT_SECONDS,
                                        boards.BOARDS[board]["reactos"]["shows"],
                                        os.environ.get("QORVALIN_REACTOS_ISO"))
    print("desktop and driver after %.0f s" % machine.times["hello"])
    return found, reactos_guest.simulate(found, folder)


@pytest.mark.parametrize("board", BOARDS, scope="module")
def test_report(boot, board):
    """The first run's window against the replay of QVDUMP's recording, the verdict, and the
    controllers of the board named by the vendor table with ReactOS's description of each."""
    found, expected = boot
    runs = found["runs"]
    assert [r["show"] for r in runs] == boards.BOARDS[board]["reactos"]["shows"]
    seen = observation.of_run(runs[0])
    observation.check(seen, expected, "the replay of QVDUMP's recording")
    differing = recordings.differences(guest.recording(found), "reactos", board)
    assert not differing, ("QVDUMP's recording is not the one kept (python3 -m tools.guest "
                           "refresh keeps it anew):\n" + "\n".join(differing))
    controllers = boards.BOARDS[board]["controllers"]
    assert expected["verdict"] == ("supported" if controllers else "not-supported")
    details = [window.unescape(line) for line in seen.detail]
    named = [line for line in details if line.startswith("Found ")]
    form = catalogue.text(catalogue.MSG_HC_VENDOR_DEVICE).replace("%4.4x", "%04x")
    # Every controller of the boards is Intel's.
    wanted = [form % ("Intel Corporation", *(int(n, 16) for n in c.split(":")))
              for c in controllers]
    assert sorted(named) == sorted(wanted), "the host controllers named by the vendor table"
    for line in named:
        description = details[details.index(line) + 1]
        assert description.startswith("\t") and len(description) > 1, \
            "the controller's description follows its line"
    supported = catalogue.text(catalogue.MSG_INFO_HARDWARE_SUPPORTED) in \
        window.unescape(seen.panel)
    assert supported == bool(controllers), "the hardware paragraph of a supported system"


@pytest.mark.parametrize("board", BOARDS, scope="module")
def test_shown(boot, board):
    """Whatever show command started it, the window first appears normal, in its compact size,
    with the focus on Close, and Close ends the program with 0."""
    for run in boot[0]["runs"]:
        seen = observation.of_run(run)
        assert (seen.shown, seen.exit) == ("visible normal compact focus=close", 0), run["show"]


@pytest.mark.parametrize("board", BOARDS, scope="module")
def test_shell(boot, board):
    """The normal run as a user sees it: the splash first with the main window hidden, Escape
    ignored, Enter continues, Details, About modal, Close."""
    run = boot[0]["runs"][0]
    shots = run["snapshots"]
    assert {"splash", "escape", "verdict", "details", "about", "about-closed"} <= set(shots), \
        run["notes"]

    def splash(windows):
        return [w for w in windows if any(c.id == catalogue.IDC_CONTINUE for c in w.controls)]

    for stage in ("splash", "escape"):
        assert splash(shots[stage]) and splash(shots[stage])[0].visible, stage
        assert not main_window(shots[stage]).visible, "the main window is hidden (%s)" % stage
    assert not splash(shots["verdict"]), "Enter on the splash continued"
    assert not run["notes"], "the driver had to help"
    main = main_window(shots["details"])
    assert main.control(catalogue.IDC_DETAILS_LIST).visible and \
        main.rect.bottom > main.control(catalogue.IDC_DETAILS_LABEL).rect.top, \
        "Details >> shows the list"
    assert not main.control(catalogue.IDC_DETAILS).enabled, "Details >> is disabled once pressed"
    about = [w for w in shots["about"] if w.owner == main.hwnd and w.visible]
    assert len(about) == 1, "About opens one window owned by the main window"
    assert not main_window(shots["about"]).enabled, "About is modal"
    assert main_window(shots["about-closed"]).enabled and \
        not [w for w in shots["about-closed"] if w.hwnd == about[0].hwnd], \
        "OK closes About and gives the main window back"
    assert run["exit"] == 0, "exit code after Close"
