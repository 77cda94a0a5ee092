"""Under Wine: the headline, and the status icon animating in the verdict's colours."""

import time
from collections import Counter

import pytest

from harness import catalogue as c
from harness.catalogue import IDC_ABOUT, IDC_HEADLINE, IDC_STATUS_ICON, text
from harness.win32 import IDOK
from harness.window import ABOUT_TITLE, DIALOG_CLASS, FRAME_COLOURS, MAIN_CLASS, one, visible_one
from harness.wine import DEFAULT

SHADES = {frames: dict(zip(sorted(colours, key=sum, reverse=True), ("light", "dark")))
          for frames, colours in FRAME_COLOURS.items()}

# One animation cycle is 51 ticks of 150 ms (7.65 s); the first change comes after 1.8 s.
WATCH_SECONDS = 10.0


def icon_shades(run, main):
    """How many pixels of the status icon show each shade of each colour."""
    rows = run.pixels(main.control(IDC_STATUS_ICON).rect)
    return Counter((colour, shades[pixel]) for row in rows for pixel in row
                   for colour, shades in SHADES.items() if pixel in shades)


def mostly(seen, colour, shade):
    other = "dark" if shade == "light" else "light"
    return any(c[(colour, shade)] > c[(colour, other)] for c in seen)


def check_icon_animates(run, main, colour):
    """Watches the icon: only the verdict's shades show, and the picture changes."""
    seen = []
    deadline = time.time() + WATCH_SECONDS
    while time.time() < deadline:
        counts = icon_shades(run, main)
        assert all(shown == colour for shown, _ in counts), \
            "the %s icon shows no other colour: %r" % (colour, counts)
        assert counts[(colour, "light")] + counts[(colour, "dark")] > 50, \
            "the icon shows the %s symbol: %r" % (colour, counts)
        if counts not in seen:
            seen.append(counts)
        if len(seen) >= 3 and mostly(seen, colour, "light") and mostly(seen, colour, "dark"):
            break
        time.sleep(0.2)
    assert len(seen) >= 3, "the icon changed at least twice in %d s: %r" % (WATCH_SECONDS, seen)
    assert mostly(seen, colour, "light"), "a mostly light frame was seen: %r" % seen
    assert mostly(seen, colour, "dark"), "a mostly dark frame was seen: %r" % seen


@pytest.mark.parametrize("version, nt, win9x, headline, colour, picture", [
    ("nt40", DEFAULT, None, c.MSG_HEADLINE_NOT_SUPPORTED, "USBNO", "verdict-not-supported.png"),
    # Nothing determined anywhere: the green verdict.
    (None, None, "4.0.1300", c.MSG_HEADLINE_SUPPORTED, "USBYES", "verdict-supported.png"),
], ids=["red_for_nt40", "green_for_derived_4_0_1300"])
def test_verdict(run, version, nt, win9x, headline, colour, picture):
    run.session.set_versions(version, nt, win9x)
    program = run.start()
    main = run.continue_to_verdict(program)
    assert main.control(IDC_HEADLINE).text == text(headline), "headline"
    check_icon_animates(run, main, colour)
    run.point(0, 0)
    run.screenshot(run.session.work / "screenshots" / picture, main.rect)
    assert run.close(program, main) == 0, "exit code after Close"


def test_icon_animates_behind_about_box(run):
    run.session.set_versions("nt40")
    program = run.start()
    main = run.continue_to_verdict(program)
    run.click(main.control(IDC_ABOUT))
    about = run.about(program)
    # Out of the way of the icon, as a user would move it to watch.
    run.drag_title(about, 0, main.rect.bottom + 20 - about.rect.top)
    about = run.wait_settled(lambda ws: visible_one(ws, DIALOG_CLASS, ABOUT_TITLE,
                                                    lambda a: a.rect.top > main.rect.bottom),
                             "the moved About box", program)
    assert not one(run.snapshot(), MAIN_CLASS).enabled, \
        "the main window is disabled under the About box"
    check_icon_animates(run, main, "USBNO")
    run.click(about.control(IDOK))
    main = run.main_when(program, "the main window enabled again", lambda m: m.enabled)
    assert run.close(program, main) == 0, "exit code after Close"
