"""Under Wine: odd registry version values give one verdict, well-formed findings, exit 0."""

import pytest

from harness import catalogue as c
from harness import observation, sim
from harness.catalogue import IDC_DETAILS_LIST, IDC_HEADLINE, IDC_MORE_INFO, text
from harness.wine import DEFAULT, raw_bytes

ROOM = 128  # the program's registry buffer

# name: (Wine's Version, NT "CurrentVersion", 9x "VersionNumber"). Texts are REG_SZ, bytes
# REG_BINARY, ints REG_DWORD: the program ignores the type.
CASES = {
    "win95_text_without_room_for_its_end": ("win95", DEFAULT, "4" * ROOM),
    "win98_unterminated_binary_filling_buffer": ("win98", DEFAULT, b"4.10." + b"7" * 123),
    "winme_dword": ("winme", DEFAULT, 0x30392E34),
    "nt40_text_far_too_long": ("nt40", "4." + "0" * 198, None),
    "win2k_unterminated_binary_filling_buffer": ("win2k", b"5" * ROOM, None),
    "winxp_empty_text": ("winxp", "", None),
    "win7_text_that_just_fits": ("win7", "6." + "1" * (ROOM - 3), None),
    "win10_text_outside_ascii": ("win10", "6.2\xe9\xa0x", None),
    "no_version_values_at_all": (None, None, None),
    "no_version_and_a_9x_text_wine_cannot_read": (None, None, "not a version"),
}


def registry_text(value):
    """What the program shows of the value (None: absent): its bytes up to the first NUL when
    they fit the buffer; the first ROOM - 1 when they fill it exactly, with no room for a
    terminator; nothing when there are more, as the registry then hands over none."""
    data = b"" if value is None else raw_bytes(value)
    return "" if len(data) > ROOM else data[:ROOM - 1].split(b"\0")[0].decode("latin-1")


@pytest.mark.parametrize("name", CASES)
def test_odd_values(run, name):
    version, nt, win9x = CASES[name]
    run.session.set_versions(version, nt, win9x)
    machine = sim.wine_scenario(run.session, nt, win9x)
    program = run.start()
    main = run.continue_to_verdict(program)
    headline = main.control(IDC_HEADLINE).text
    assert headline in [text(n) for n in (c.MSG_HEADLINE_SUPPORTED, c.MSG_HEADLINE_CHANGES,
                                          c.MSG_HEADLINE_NOT_SUPPORTED)], "one verdict"
    panel = main.control(IDC_MORE_INFO).text
    closing = text(c.MSG_INFO_PHYSICAL_PORT)
    assert panel.endswith(closing + "\r\n\r\n") and panel.count(closing) == 1, \
        "the closing paragraph comes once, last: %r" % panel
    lines = main.control(IDC_DETAILS_LIST).items
    assert len(lines) == 4, "Details lines: %r" % lines
    assert lines[0] in [text(n) for n in range(c.MSG_OS_UNKNOWN, c.MSG_OS_98 + 1)], \
        "a release line: %r" % lines[0]
    prefix = text(c.MSG_REGISTRY_VERSION) % ""
    assert lines[1].startswith(prefix), "the registry line: %r" % lines[1]
    nt_value, win9x_value = run.session.registry_values(nt, win9x)
    record = machine.get("version")
    value = nt_value if record and record["platform"] == 2 else win9x_value
    assert lines[1][len(prefix):] == registry_text(value), \
        "the registry text shown for %r" % (value,)
    assert lines[2].startswith(text(c.MSG_KERNEL_VERSION).partition("%")[0]), \
        "the kernel line: %r" % lines[2]
    assert lines[3] == "", "the blank line"
    assert run.close(program, main) == 0, "exit code after Close"
    report = sim.simulate(run.session.sim, machine, run.session.work)
    observation.check(observation.of_window(main), report, parts=("panel", "detail"))
