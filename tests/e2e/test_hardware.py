"""End-to-end tests of the hardware probes under Wine: the guarded port access that Wine denies
to a 64-bit program, and the host controllers that never open there."""

import re
import sys

import wine
from wine import DEFAULT, check, check_equal

MSG = wine.catalogue()
PRIVILEGED_INSTRUCTION = "c0000096"

# name: (Wine's Version, NT "CurrentVersion", 9x "VersionNumber", port faults, hardware
#        paragraph). Off the NT platform the chipset probe writes the first configuration
# address, Wine faults it, and the probe touches no port again; on NT it touches none. No
# \\.\HCD device opens: "not supported" hardware, except on 9x 4.0 and NT 4 (undetermined).
CASES = {
    "win95": ("win95", DEFAULT, "4.00.950", 1, 1089),
    "win98": ("win98", DEFAULT, "4.10.2222", 1, 1088),
    "winme": ("winme", DEFAULT, "4.90.3000", 1, 1088),
    "derived_4_0_1300": (None, None, "4.0.1300", 1, 1089),
    "nt40": ("nt40", DEFAULT, None, 0, 1089),
    "win2k": ("win2k", DEFAULT, None, 0, 1088),
    "winxp": ("winxp", DEFAULT, None, 0, 1088),
    "win7": ("win7", DEFAULT, None, 0, 1088),
    "win10": ("win10", DEFAULT, None, 0, 1088),
}


def port_faults(log):
    """The privileged-instruction exceptions Wine dispatched, with the registers that tell
    which port and value the faulting instruction had."""
    faults = []
    with open(log, encoding="latin-1") as f:
        lines = f.read().splitlines()
    for i, line in enumerate(lines):
        if "dispatch_exception code=" + PRIVILEGED_INSTRUCTION in line:
            registers = " ".join(lines[i + 1:i + 6])
            found = dict(re.findall(r"\b(r[a-z0-9]+)=([0-9a-fA-F]+)", registers))
            faults.append({name: int(value, 16) for name, value in found.items()})
    return faults


def hardware_case(name):
    version, nt, win9x, expected_faults, hardware_paragraph = CASES[name]

    def case(run):
        run.set_versions(version, nt, win9x)
        program = run.start(wine_debug="-all,err+all,+seh")
        main = run.continue_to_verdict(program)
        panel = main.control(wine.IDC_MORE_INFO).text
        check(panel.endswith(MSG[hardware_paragraph] + "\r\n\r\n" + MSG[1085] + "\r\n\r\n"),
              "the hardware paragraph %d comes right before the closing one: %r"
              % (hardware_paragraph, panel))
        check_equal(len(main.control(wine.IDC_DETAILS_LIST).items), 4,
                    "Details lines (no chipset or controller findings under Wine)")
        check_equal(run.close(program, main), 0, "exit code after Close")
        faults = port_faults(program.log)
        check_equal(len(faults), expected_faults, "privileged-instruction faults")
        if faults:
            # The first configuration address, device 0 function 0, written to 0xCF8.
            check_equal((faults[0].get("rdx", 0) & 0xFFFF, faults[0].get("rax", 0) & 0xFFFFFFFF),
                        (0xCF8, 0x80000000), "port and value of the faulting write")
        nt_value, win9x_value = wine.registry_values(run.state, nt, win9x)
        report = wine.simulate(run.state, wine.wine_scenario(wine.version_record(run.state),
                                                              nt_value, win9x_value))
        check_equal(report["ports"],
                    "writes=%d reads=0 faults=%d" % (expected_faults, expected_faults),
                    "the simulator's port count for the same machine")

    return case


CASE_FUNCTIONS = {name: hardware_case(name) for name in CASES}

if __name__ == "__main__":
    sys.exit(wine.run_cases(CASE_FUNCTIONS))
