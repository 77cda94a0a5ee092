"""End-to-end tests of the verdict under Wine: the headline, and the status icon on screen in
the verdict's colours, changing as it animates (also behind the modal About box)."""

import os
import sys
import time

from harness import wine
from harness.wine import DEFAULT, IDC_ABOUT, IDOK, check, check_equal

MSG = wine.catalogue()

# The light and dark shade of each set of frames.
SHADES = {
    "green": ((0, 255, 0), (0, 128, 0)),
    "yellow": ((255, 255, 0), (128, 128, 0)),
    "red": ((255, 0, 0), (128, 0, 0)),
}

# One animation cycle is 51 ticks of 150 ms (7.65 s); the first change comes 1.8 s after the
# start.
WATCH_SECONDS = 10.0


def icon_shades(run, main):
    """How many pixels of the status icon show each shade of each colour."""
    counts = {}
    for row in run.pixels(main.control(wine.IDC_STATUS_ICON).rect):
        for pixel in row:
            for colour, (light, dark) in SHADES.items():
                if pixel == light:
                    counts[(colour, "light")] = counts.get((colour, "light"), 0) + 1
                elif pixel == dark:
                    counts[(colour, "dark")] = counts.get((colour, "dark"), 0) + 1
    return counts


def mostly(seen, colour, shade):
    other = "dark" if shade == "light" else "light"
    return any(c.get((colour, shade), 0) > c.get((colour, other), 0) for c in seen)


def check_icon_animates(run, main, colour):
    """Watches the icon: only the verdict's shades show, and the picture changes."""
    seen = []
    deadline = time.time() + WATCH_SECONDS
    while time.time() < deadline:
        counts = icon_shades(run, main)
        foreign = {k: n for k, n in counts.items() if k[0] != colour}
        check(not foreign, "the %s icon shows no other colour: %r" % (colour, counts))
        check(counts.get((colour, "light"), 0) + counts.get((colour, "dark"), 0) > 50,
              "the icon shows the %s symbol: %r" % (colour, counts))
        if counts not in seen:
            seen.append(counts)
        if len(seen) >= 3 and mostly(seen, colour, "light") and mostly(seen, colour, "dark"):
            break
        time.sleep(0.2)
    check(len(seen) >= 3, "the icon changed at least twice in %d s: %r" % (WATCH_SECONDS, seen))
    check(mostly(seen, colour, "light"), "a mostly light frame was seen: %r" % seen)
    check(mostly(seen, colour, "dark"), "a mostly dark frame was seen: %r" % seen)


def verdict_case(version, nt, win9x, headline, colour, picture):
    def case(run):
        run.set_versions(version, nt, win9x)
        program = run.start()
        main = run.continue_to_verdict(program)
        check_equal(main.control(wine.IDC_HEADLINE).text, MSG[headline], "headline")
        check_icon_animates(run, main, colour)
        run.point(0, 0)
        run.screenshot(os.path.join(run.state["work"], "screenshots", picture), main.rect)
        check_equal(run.close(program, main), 0, "exit code after Close")
    return case


def case_icon_animates_behind_about_box(run):
    run.set_versions("nt40")
    program = run.start()
    main = run.continue_to_verdict(program)
    run.click(main.control(IDC_ABOUT))
    about = run.about(program)
    # Out of the way of the icon, as a user would move it to watch.
    run.drag_title(about, 0, main.rect.bottom + 20 - about.rect.top)
    about = run.wait_settled(
        lambda ws: (lambda a: a if a is not None and a.rect.top > main.rect.bottom else None)(
            wine.visible_one(ws, wine.DIALOG_CLASS, wine.ABOUT_TITLE)), "the moved About box",
        program)
    check(not wine.one(run.snapshot(), wine.MAIN_CLASS).enabled,
          "the main window is disabled under the About box")
    check_icon_animates(run, main, "red")
    run.click(about.control(IDOK))
    main = run.main_when(program, "the main window enabled again", lambda m: m.enabled)
    check_equal(run.close(program, main), 0, "exit code after Close")


CASES = {
    "red_for_nt40": verdict_case("nt40", DEFAULT, None, 1042, "red",
                                 "verdict-not-supported.png"),
    # Nothing determined anywhere: the green verdict.
    "green_for_derived_4_0_1300": verdict_case(None, None, "4.0.1300", 1040, "green",
                                               "verdict-supported.png"),
    "icon_animates_behind_about_box": case_icon_animates_behind_about_box,
}

if __name__ == "__main__":
    sys.exit(wine.run_cases(CASES))
