"""Under Wine: the findings in each Windows version, as read, as the simulator says, and as
QVDUMP.EXE records them for the simulator to replay."""

from typing import NamedTuple, Optional

import pytest

from harness import catalogue as c
from harness import observation, sim
from harness.catalogue import IDC_DETAILS_LIST, IDC_HEADLINE, IDC_MORE_INFO, text
from harness.modes import MODES
from harness.wine import DEFAULT

NT = "the prefix's NT CurrentVersion"
# Under Wine no configuration port answers (wine64 denies them, 32-bit Wine's emulation reads
# all ones) and no \\.\HCD device opens: the chipset is undetermined, and the host controllers
# give "not supported" except on 9x 4.0 and below and on NT 4, where nothing opening cannot be
# told from an older driver model.
NO, UNKNOWN = c.MSG_INFO_HARDWARE_NOT_SUPPORTED, c.MSG_INFO_HARDWARE_UNKNOWN
NOT_SUPPORTED, SUPPORTED = c.MSG_INFO_OS_NOT_SUPPORTED, c.MSG_INFO_OS_SUPPORTED


class Case(NamedTuple):
    name: str
    version: Optional[str]  # Wine's Version
    release: int  # the release line
    registry: str  # the registry text shown
    os_paragraph: Optional[int]
    hardware_paragraph: int
    nt: Optional[str] = DEFAULT  # the NT "CurrentVersion" value
    win9x: Optional[str] = None  # the 9x "VersionNumber" value
    headline: int = c.MSG_HEADLINE_NOT_SUPPORTED
    # The kernel version shown (major, minor, build, service pack): the mode's own, or this.
    kernel: Optional[tuple] = None

    def kernel_shown(self):
        mode = MODES.get(self.version)
        return self.kernel or (mode.major, mode.minor, mode.build, mode.csd)


OWN = {name: mode.registry for name, mode in MODES.items()}
CASES = [
    Case("win95", "win95", c.MSG_OS_95, "", NOT_SUPPORTED, UNKNOWN),
    # The build word (950) decides before the registry text is compared.
    Case("win95_with_osr2_registry_text", "win95", c.MSG_OS_95, "4.03.1214", NOT_SUPPORTED,
         UNKNOWN, win9x="4.03.1214"),
    Case("win98", "win98", c.MSG_OS_98, OWN["win98"], SUPPORTED, NO, win9x=OWN["win98"]),
    Case("win98_without_version_number", "win98", c.MSG_OS_98, "", SUPPORTED, NO),
    Case("winme", "winme", c.MSG_OS_98, OWN["winme"], SUPPORTED, NO, win9x=OWN["winme"]),
    Case("nt40", "nt40", c.MSG_OS_NT, NT, NOT_SUPPORTED, UNKNOWN),
    Case("nt40_without_current_version", "nt40", c.MSG_OS_NT, "", NOT_SUPPORTED, UNKNOWN,
         nt=None, win9x=OWN["win98"]),
    Case("win2k", "win2k", c.MSG_OS_2000, NT, SUPPORTED, NO),
    Case("winxp", "winxp", c.MSG_OS_2000, NT, SUPPORTED, NO),
    Case("win7", "win7", c.MSG_OS_2000, NT, SUPPORTED, NO),
    Case("win10", "win10", c.MSG_OS_2000, NT, SUPPORTED, NO),
    # No Version and no NT value: Wine derives platform 1, 4.0, build 0x04000514 from the 9x
    # text, which no rule knows (no paragraph), and nothing opening on 4.0 is undetermined.
    Case("derived_4_0_1300", None, c.MSG_OS_95, "4.0.1300", None, UNKNOWN, nt=None,
         win9x="4.0.1300", headline=c.MSG_HEADLINE_SUPPORTED, kernel=(4, 0, 1300, "")),
]


@pytest.mark.parametrize("case", CASES, ids=[case.name for case in CASES])
def test_version(run, case):
    registry = case.registry
    if registry == NT:
        registry = run.session.nt_current_version
        assert registry, "the fresh prefix has an NT CurrentVersion value"
    run.session.set_versions(case.version, case.nt, case.win9x)
    program = run.start()
    main = run.continue_to_verdict(program)
    assert main.control(IDC_DETAILS_LIST).items == [
        text(case.release), text(c.MSG_REGISTRY_VERSION) % registry,
        text(c.MSG_KERNEL_VERSION) % case.kernel_shown(), ""], "Details list"
    assert main.control(IDC_MORE_INFO).text == "".join(
        text(n) + "\r\n\r\n" for n in (case.os_paragraph, case.hardware_paragraph,
                                       c.MSG_INFO_PHYSICAL_PORT) if n), "More Information"
    assert main.control(IDC_HEADLINE).text == text(case.headline), "headline"
    machine = sim.wine_scenario(run.session, case.nt, case.win9x)
    observation.check(observation.of_window(main),
                      sim.simulate(run.session.sim, machine, run.session.work))
    sim.check_recording(run, main, run.session.work / "recordings" / case.name)
    assert run.close(program, main) == 0, "exit code after Close"
