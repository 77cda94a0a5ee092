"""End-to-end tests of odd registry version values in every Windows mode of Wine: the program
always shows one verdict with well-formed findings and ends with exit code 0."""

import sys

from harness import wine
from harness.wine import DEFAULT, check, check_equal

MSG = wine.catalogue()
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
    data = b"" if value is None else wine.raw_bytes(value)
    if len(data) > ROOM:
        return ""
    return data[:ROOM - 1].split(b"\0")[0].decode("latin-1")


def odd_case(name):
    version, nt, win9x = CASES[name]

    def case(run):
        run.set_versions(version, nt, win9x)
        record = wine.version_record(run.state)
        program = run.start()
        main = run.continue_to_verdict(program)
        headline = main.control(wine.IDC_HEADLINE).text
        check(headline in (MSG[1040], MSG[1041], MSG[1042]), "one verdict: %r" % headline)
        panel = main.control(wine.IDC_MORE_INFO).text
        closing = MSG[1085] + "\r\n\r\n"
        check(panel.endswith(closing) and panel.count(MSG[1085]) == 1,
              "the closing paragraph comes once, last: %r" % panel)
        lines = main.control(wine.IDC_DETAILS_LIST).items
        check_equal(len(lines), 4, "Details lines: %r" % lines)
        check(lines[0] in [MSG[n] for n in range(1050, 1056)], "a release line: %r" % lines[0])
        prefix = "\tRegistry version "
        check(lines[1].startswith(prefix), "the registry line: %r" % lines[1])
        shown = lines[1][len(prefix):]
        nt_value, win9x_value = wine.registry_values(run.state, nt, win9x)
        value = nt_value if record and record["platform"] == 2 else win9x_value
        check_equal(shown, registry_text(value), "the registry text shown for %r" % (value,))
        check(lines[2].startswith("\tKernel version "), "the kernel line: %r" % lines[2])
        check_equal(lines[3], "", "the blank line")
        check_equal(run.close(program, main), 0, "exit code after Close")
        report = wine.simulate(run.state, wine.wine_scenario(
            record, nt_value, win9x_value, wine.port_access(run.state, record)))
        check_equal(main.control(wine.IDC_DETAILS_LIST).raw_items, report["detail"],
                    "Details list against the simulator")
        check_equal(main.control(wine.IDC_MORE_INFO).raw_text, report["panel"],
                    "More Information against the simulator")

    return case


CASE_FUNCTIONS = {name: odd_case(name) for name in CASES}

if __name__ == "__main__":
    sys.exit(wine.run_cases(CASE_FUNCTIONS))
