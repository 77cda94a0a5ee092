"""End-to-end tests of the operating-system findings in each Windows version that Wine can
report, read back from the window and compared with the simulator for the same machine."""

import sys

from harness import wine
from harness.wine import DEFAULT, check, check_equal

MSG = wine.catalogue()
NT = "the prefix's NT CurrentVersion"

# Under Wine no configuration port answers (wine64 denies them, 32-bit Wine's emulation reads
# all ones) and no \\.\HCD device opens: the chipset is undetermined, and the host controllers
# give "not supported" except on 9x 4.0 and below and on NT 4, where nothing opening cannot be
# told from an older driver model.
HARDWARE_NO = 1088
HARDWARE_UNKNOWN = 1089

# name: (Wine's Version, NT "CurrentVersion", 9x "VersionNumber",
#        release line, registry text shown, kernel version shown, OS paragraph or None,
#        hardware paragraph, headline)
CASES = {
    "win95": ("win95", DEFAULT, None,
              1053, "", "4.0.950 ", 1082, HARDWARE_UNKNOWN, 1042),
    # The build word (950) decides before the registry text is compared.
    "win95_with_osr2_registry_text": ("win95", DEFAULT, "4.03.1214",
                                      1053, "4.03.1214", "4.0.950 ", 1082, HARDWARE_UNKNOWN, 1042),
    "win98": ("win98", DEFAULT, "4.10.2222",
              1055, "4.10.2222", "4.10.2222  A ", 1081, HARDWARE_NO, 1042),
    "win98_without_version_number": ("win98", DEFAULT, None,
                                     1055, "", "4.10.2222  A ", 1081, HARDWARE_NO, 1042),
    "winme": ("winme", DEFAULT, "4.90.3000",
              1055, "4.90.3000", "4.90.3000  ", 1081, HARDWARE_NO, 1042),
    "nt40": ("nt40", DEFAULT, None,
             1051, NT, "4.0.1381 Service Pack 6a", 1082, HARDWARE_UNKNOWN, 1042),
    "nt40_without_current_version": ("nt40", None, "4.10.2222",
                                     1051, "", "4.0.1381 Service Pack 6a", 1082, HARDWARE_UNKNOWN,
                                     1042),
    "win2k": ("win2k", DEFAULT, None,
              1052, NT, "5.0.2195 Service Pack 4", 1081, HARDWARE_NO, 1042),
    "winxp": ("winxp", DEFAULT, None,
              1052, NT, "5.1.2600 Service Pack 3", 1081, HARDWARE_NO, 1042),
    "win7": ("win7", DEFAULT, None,
             1052, NT, "6.1.7601 Service Pack 1", 1081, HARDWARE_NO, 1042),
    "win10": ("win10", DEFAULT, None,
              1052, NT, "6.2.9200 ", 1081, HARDWARE_NO, 1042),
    # No Version and no NT value: Wine derives platform 1, 4.0, build 0x04000514 from the 9x
    # text, which no rule knows (no paragraph), and nothing opening on 4.0 is undetermined.
    "derived_4_0_1300": (None, None, "4.0.1300",
                         1053, "4.0.1300", "4.0.1300 ", None, HARDWARE_UNKNOWN, 1040),
}


def paragraphs(*numbers):
    return "".join(MSG[n] + "\r\n\r\n" for n in numbers if n is not None)


def check_against_simulator(run, main, nt, win9x):
    """The window shows what the simulator reports for the machine Wine presents."""
    nt, win9x = wine.registry_values(run.state, nt, win9x)
    record = wine.version_record(run.state)
    report = wine.simulate(run.state, wine.wine_scenario(record, nt, win9x,
                                                          wine.port_access(run.state, record)))
    check_equal(main.control(wine.IDC_DETAILS_LIST).raw_items, report["detail"],
                "Details list against the simulator")
    check_equal(main.control(wine.IDC_MORE_INFO).raw_text, report["panel"],
                "More Information against the simulator")
    check_equal(main.control(wine.IDC_HEADLINE).raw_text, report["headline"],
                "headline against the simulator")


def version_case(name):
    (version, nt, win9x, release, registry, kernel, os_paragraph, hardware_paragraph,
     headline) = CASES[name]

    def case(run):
        if registry == NT:
            shown = run.state["nt_current_version"]
            check(shown, "the fresh prefix has an NT CurrentVersion value")
        else:
            shown = registry
        run.set_versions(version, nt, win9x)
        program = run.start()
        main = run.continue_to_verdict(program)
        check_equal(main.control(wine.IDC_DETAILS_LIST).items,
                    [MSG[release], "\tRegistry version " + shown, "\tKernel version " + kernel,
                     ""], "Details list")
        check_equal(main.control(wine.IDC_MORE_INFO).text,
                    paragraphs(os_paragraph, hardware_paragraph, 1085), "More Information")
        check_equal(main.control(wine.IDC_HEADLINE).text, MSG[headline], "headline")
        check_against_simulator(run, main, nt, win9x)
        check_equal(run.close(program, main), 0, "exit code after Close")

    return case


CASE_FUNCTIONS = {name: version_case(name) for name in CASES}

if __name__ == "__main__":
    sys.exit(wine.run_cases(CASE_FUNCTIONS))
