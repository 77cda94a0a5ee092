"""The cases of the Wine tests that the vm tests run in the guest on the i686 program: the host
controller path with the i686 test driver and configuration manager, behind the ports denied.
The shell's cases run on the i686 program under 32-bit Wine on the host (e2e.i686.shell.*)."""

import os

from harness import wine

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
test_hcpath = wine.load_script(os.path.join(TESTS, "hcpath", "test_hcpath.py"))

WIN2K = ({"major": 5, "minor": 0, "build": 2195, "platform": 2, "csd": "Service Pack 4"}, None)


def case_win2k_two_controllers(run):
    """Two named controllers on Windows 2000, where the tree search is the same as on 98."""
    hc = test_hcpath
    hcds = [{"index": 1, "driverKey": hc.UHCI_KEY_1}, {"index": 6, "driverKey": hc.UHCI_KEY_0}]
    tree = hc.piix4_tree()
    tree["children"][0]["children"].append(
        {"driver": hc.UHCI_KEY_1, "hardwareId": hc.VIA_HWID, "description": hc.VIA_DESC})
    shown, expected, counts, calls = hc.run_machine(run, "win2k", hcds, {"tree": tree})
    hc.check_same_as_simulator(shown, expected)
    hc.check_lines_in_order(shown["detail"], [hc.VIA_LINE, "\t" + hc.VIA_DESC, "",
                                              hc.PIIX4_LINE, "\t" + hc.PIIX4_DESC, ""])
    hc.check_searched(shown, expected, counts, calls, tree, [hc.UHCI_KEY_1, hc.UHCI_KEY_0])


def guest_cases():
    test_hcpath.WINE_MACHINES["win2k"] = WIN2K
    test_hcpath.CASES["win2k_two_controllers"] = case_win2k_two_controllers
    return {"hcpath." + name: test_hcpath.run_case(name)
            for name in ("win98_one_controller", "win2k_two_controllers")}
