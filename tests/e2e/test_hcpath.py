"""End-to-end tests of the host controller path: the real program under Wine with the test
driver and the stand-in configuration manager (or Wine's own) on each machine of
harness/hcpath.py, held to the simulator's report for the same machine."""

import pytest

from harness import hcpath


@pytest.mark.parametrize("name", hcpath.CASES)
def test_hcpath(run, built, name):
    hcpath.run_case(run, hcpath.CASES[name], built("qorvalin_hcdriver"),
                    built("qorvalin_test_cfgmgr"), run.session.work / "hcpath" / name)
