"""Under Wine: the host controller path on each machine of harness/hcpath.py."""

import pytest

from harness import hcpath


@pytest.mark.parametrize("name", hcpath.CASES)
def test_hcpath(run, built, name):
    hcpath.run_case(run, hcpath.CASES[name], built("qorvalin_hcdriver"),
                    built("qorvalin_test_cfgmgr"), run.session.work / "hcpath" / name)
