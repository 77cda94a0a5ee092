"""End-to-end tests of the shell: splash, compact and expanded window, About box, ending."""

import time

import pytest

from harness.catalogue import (IDC_ABOUT, IDC_CLOSE, IDC_CONTINUE, IDC_DETAILS,
                               IDC_DETAILS_LABEL, IDC_DETAILS_LIST, IDC_HEADLINE, IDC_MORE_INFO,
                               IDC_SPLASH_TEXT, IDC_STATUS_ICON)
from harness.win32 import BS_DEFPUSHBUTTON, BS_TYPE_MASK, IDOK, SS_BITMAP, SS_TYPE_MASK
from harness.window import (ABOUT_TITLE, DIALOG_CLASS, MAIN_CLASS, SPLASH_TEXT, TITLE, find, one,
                            visible_one)

SCREEN = (1024, 768)

# How far the About box is dragged to show that the input before the drag was handled.
NUDGE = 12


def splash_and_hidden_main(run):
    """The program started, its splash as the user first sees it, and the main window's full
    rectangle while it is still hidden."""
    program = run.start()
    splash = run.splash(program)
    main = one(run.snapshot(), MAIN_CLASS)
    assert main is not None, "the main window exists while the splash is shown"
    assert not main.visible, "the main window is hidden while the splash is shown"
    return program, splash, main


def continue_to_compact(run):
    program, splash, hidden = splash_and_hidden_main(run)
    run.click(splash.control(IDC_CONTINUE))
    return program, run.main_window(program), hidden


def expanded(run, program, full):
    return run.main_when(program, "the expanded window",
                         lambda m: m.rect.height == full.rect.height)


def check_ignored(run, program, what, cls, title, moved, looked_for):
    """The input just given (what) did nothing: the next, handled only after it, finds the
    window still there with moved(window) true and the program running. Returns the window."""
    after = run.wait_settled(lambda ws: visible_one(ws, cls, title, moved), looked_for % what,
                             program)
    assert program.poll() is None, "%s: the program is still running" % what
    return after


def check_tab_after(run, program, window, cls, title, focused, what):
    """A Tab after the input takes the focus to the control `focused`."""
    run.key(window, "Tab")
    return check_ignored(run, program, what, cls, title, lambda w: w.focused_id() == focused,
                         "the focus on control %d after %%s and a Tab" % focused)


def check_drag_after(run, program, about, what):
    """A drag of the About box's title bar after the input moves the box."""
    run.drag_title(about, 0, NUDGE)
    return check_ignored(run, program, what, DIALOG_CLASS, ABOUT_TITLE,
                         lambda w: w.rect.top == about.rect.top + NUDGE,
                         "the About box moved after %s")


def check_expanded(main, compact, full, how):
    assert (main.rect.left, main.rect.top) == (compact.rect.left, compact.rect.top), \
        "top-left corner after Details >> (%s)" % how
    assert (main.rect.width, main.rect.height) == (full.rect.width, full.rect.height), \
        "width and height after Details >> (%s)" % how
    assert not main.control(IDC_DETAILS).enabled, "Details >> greyed after it was used (%s)" % how
    assert main.focused_id() == IDC_CLOSE, "focused control after Details >> (%s)" % how
    listbox, label = main.control(IDC_DETAILS_LIST), main.control(IDC_DETAILS_LABEL)
    assert listbox.visible and listbox.rect.bottom <= main.client.bottom, \
        "the Details list lies inside the expanded window (%s)" % how
    assert label.rect.top >= main.client.top and label.rect.bottom <= main.client.bottom, \
        "the Details: label lies inside the expanded window (%s)" % how


def test_splash_first(run):
    _, splash, main = splash_and_hidden_main(run)
    assert splash.title == TITLE, "splash title"
    assert splash.owner == main.hwnd, "splash owner"
    assert not main.enabled, "the hidden main window is disabled under the modal splash"
    assert splash.control(IDC_SPLASH_TEXT).text == SPLASH_TEXT, "splash text"
    cont, close = splash.control(IDC_CONTINUE), splash.control(IDC_CLOSE)
    assert (cont.text, close.text) == ("Continue", "Close"), "Continue and Close button texts"
    assert cont.style & BS_TYPE_MASK == BS_DEFPUSHBUTTON, "Continue is the default button"
    assert close.style & BS_TYPE_MASK != BS_DEFPUSHBUTTON, "Close is not the default button"
    assert len([c for c in splash.controls if c.cls == "Static" and
                c.style & SS_TYPE_MASK == SS_BITMAP]) == 1, "bitmap controls on the splash"
    assert cont.rect.left < close.rect.left, "Continue stands left of Close"
    assert [d.title for d in find(run.snapshot(), DIALOG_CLASS)] == [TITLE], \
        "dialogs open at start"


def test_splash_close_exits_unseen(run):
    program, splash, _ = splash_and_hidden_main(run)
    run.click(splash.control(IDC_CLOSE))
    seen = []
    deadline = time.time() + 20
    while program.poll() is None and time.time() < deadline:
        seen += [w for w in run.snapshot() if w.cls == MAIN_CLASS and w.visible]
    assert run.wait_exit(program) == 0, "exit code after Close on the splash"
    assert seen == [], "main windows seen visible after Close on the splash"


def test_splash_escape_closebox_ignored_enter_continues(run):
    program, splash, _ = splash_and_hidden_main(run)
    assert splash.focused_id() == IDC_CONTINUE, "focused control on the splash"
    run.key(splash, "Escape")
    splash = check_tab_after(run, program, splash, DIALOG_CLASS, TITLE, IDC_CLOSE,
                             "Escape on the splash")
    run.click_close_box(splash)
    splash = check_tab_after(run, program, splash, DIALOG_CLASS, TITLE, IDC_CONTINUE,
                             "the splash's close box")
    windows = run.snapshot()
    assert visible_one(windows, DIALOG_CLASS, TITLE) is not None, \
        "the splash stays after Escape and its close box"
    assert not one(windows, MAIN_CLASS).visible, "the main window is still hidden"
    run.key(splash, "Return")
    assert run.main_window(program).focused_id() == IDC_CLOSE, \
        "focused control after Enter on the splash"


def test_continue_shows_compact_window(run):
    program, splash, full = splash_and_hidden_main(run)
    run.click(splash.control(IDC_CONTINUE))
    # The first sight of the window already has every finding: the checks run while it is
    # hidden.
    first = run.wait_for(lambda ws: visible_one(ws, MAIN_CLASS), "the main window", program)
    assert first.control(IDC_HEADLINE).text, "a headline at the first sight of the window"
    assert first.control(IDC_DETAILS_LIST).items, "findings at the first sight of the window"
    assert first.control(IDC_MORE_INFO).text, "advice at the first sight of the window"
    main = run.main_window(program)
    assert main.title == TITLE, "main window title"
    assert one(run.snapshot(), DIALOG_CLASS, TITLE) is None, "the splash is gone"
    assert main.rect.width == full.rect.width, "compact width (the template width)"
    assert (main.rect.left, main.rect.top) == (full.rect.left, full.rect.top), \
        "compact top-left (where the full window was centred)"
    assert main.rect.bottom == main.control(IDC_DETAILS_LABEL).rect.top, \
        "compact bottom edge vs Details: label top"
    assert main.rect.height < full.rect.height, "the compact window is lower than the template"
    centre = ((full.rect.left + full.rect.right) / 2, (full.rect.top + full.rect.bottom) / 2)
    assert abs(centre[0] - SCREEN[0] / 2) <= 2 and abs(centre[1] - SCREEN[1] / 2) <= 2, \
        "the full-size window was centred on the screen: centre %r" % (centre,)
    assert main.focused_id() == IDC_CLOSE, "focused control in the compact window"
    for ident, text in ((IDC_CLOSE, "Close"), (IDC_ABOUT, "About"), (IDC_DETAILS, "Details >>")):
        button = main.control(ident)
        assert button.text == text, "button %d text" % ident
        assert button.enabled and button.visible, "%s is usable" % text
        assert button.rect.bottom <= main.client.bottom, "%s lies inside the window" % text
    for ident in (IDC_HEADLINE, IDC_STATUS_ICON, IDC_MORE_INFO):
        c = main.control(ident)
        assert c.visible and c.rect.bottom <= main.client.bottom, \
            "control %d shows in the compact window" % ident
    assert main.control(IDC_DETAILS_LIST).rect.top >= main.rect.bottom, \
        "the Details list is cut off in the compact window"


@pytest.mark.parametrize("how", ["click", "space", "click after a move"])
def test_details_expands_in_place(run, how):
    program, compact, full = continue_to_compact(run)
    if how == "space":
        for ident, what in ((IDC_ABOUT, "About after one Tab"),
                            (IDC_DETAILS, "Details >> after two Tabs")):
            run.key(compact, "Tab")
            run.main_when(program, "the focus on " + what, lambda m: m.focused_id() == ident)
        run.key(compact, "space")
    else:
        if how == "click after a move":
            dx, dy = -150, 90
            run.drag_title(compact, dx, dy)
            moved = run.main_when(program, "the moved window",
                                  lambda m: m.rect.top != compact.rect.top)
            assert (moved.rect.left, moved.rect.top) == \
                (compact.rect.left + dx, compact.rect.top + dy), "top-left after the drag"
            assert (moved.rect.width, moved.rect.height) == \
                (compact.rect.width, compact.rect.height), "size after the drag"
            compact = moved
        run.click(compact.control(IDC_DETAILS))
    main = expanded(run, program, full)
    check_expanded(main, compact, full, how)
    # Only Close and About are left to cycle through: each Tab moves the focus on, and where
    # it goes is read from the window.
    order = []
    for _ in range(3):
        before = main.focused_id()
        run.key(main, "Tab")
        main = run.main_when(program, "the focus to move on from control %s" % before,
                             lambda m: m.focused_id() != before)
        order.append(main.focused_id())
    assert order == [IDC_ABOUT, IDC_CLOSE, IDC_ABOUT], "Tab order in the expanded window"


def test_about_is_modal_and_closes_with_ok_or_enter(run):
    program, main, _ = continue_to_compact(run)
    for how in ("OK", "Return"):
        run.click(main.control(IDC_ABOUT))
        about = run.about(program)
        owner = one(run.snapshot(), MAIN_CLASS)
        assert about.owner == owner.hwnd, "About box owner"
        assert not owner.enabled, "the main window is disabled while About is open"
        ok = about.control(IDOK)
        assert (ok.text, ok.style & BS_TYPE_MASK) == ("OK", BS_DEFPUSHBUTTON), \
            "About's OK button, the default button"
        texts = [c.text for c in about.controls if c.cls == "Static"]
        assert "Orvenda Qorvalin Version 2.0" in texts, "About names the program: %r" % texts
        run.key(about, "Escape")
        about = check_drag_after(run, program, about, "Escape in the About box")
        run.click_close_box(about)
        about = check_drag_after(run, program, about, "the About box's close box")
        assert not one(run.snapshot(), MAIN_CLASS).enabled, \
            "the main window is still disabled under the About box"
        if how == "OK":
            run.click(about.control(IDOK))
        else:
            run.key(about, "Return")
        main = run.wait_settled(
            lambda ws: one(ws, DIALOG_CLASS, ABOUT_TITLE) is None and
            visible_one(ws, MAIN_CLASS), "the About box to close by " + how, program)
        assert main.enabled, "the main window is enabled again after About"
    run.click(main.control(IDC_CLOSE))
    assert run.wait_exit(program) == 0, "exit code after About and Close"


def test_escape_in_main_window_does_nothing_alt_f4_ends(run):
    program, main, _ = continue_to_compact(run)
    assert main.focused_id() == IDC_CLOSE, "focused control in the compact window"
    run.key(main, "Escape")
    # From Close, where Escape left the focus, a Tab goes on to About.
    after = check_tab_after(run, program, main, MAIN_CLASS, None, IDC_ABOUT,
                            "Escape in the main window")
    run.key(after, "alt+F4")
    assert run.wait_exit(program) == 0, "exit code after Alt+F4"


@pytest.mark.parametrize("how", ["Close", "the close box of the expanded window"])
def test_close_ends_with_zero(run, how):
    program, compact, full = continue_to_compact(run)
    if how == "Close":
        run.click(compact.control(IDC_CLOSE))
    else:
        run.click(compact.control(IDC_DETAILS))
        run.click_close_box(expanded(run, program, full))
    assert run.wait_exit(program) == 0, "exit code after " + how


def test_two_copies_run_side_by_side(run):
    first = run.start()
    run.splash(first)
    second = run.start()
    splashes = run.wait_settled(
        lambda ws: (lambda s: s if len(s) == 2 and all(w.visible for w in s) else None)(
            find(ws, DIALOG_CLASS, TITLE)), "two splash dialogs", second)
    assert splashes[0].pid != splashes[1].pid, "the two splashes belong to two processes"
    assert len(find(run.snapshot(), MAIN_CLASS)) == 2, "main windows of two copies"
    for s in splashes:
        run.click(s.control(IDC_CLOSE))
        time.sleep(0.5)
    assert run.wait_exit(first) == 0, "exit code of the first copy"
    assert run.wait_exit(second) == 0, "exit code of the second copy"

