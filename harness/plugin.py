"""pytest's hooks for the project's tests: Unavailable, raised anywhere in a test or fixture,
skips it with its reason, and a run in which every test was skipped ends with CTest's skip
status, so that CTest reports it skipped rather than passed."""

import pytest

from harness import Unavailable

# The exit status that CTest's SKIP_RETURN_CODE names for every Python test.
SKIPPED = 77


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if call.excinfo is not None and call.excinfo.errisinstance(Unavailable):
        report.outcome = "skipped"
        report.longrepr = (str(item.path), item.location[1] or 0,
                           "Skipped: %s" % call.excinfo.value)


def pytest_sessionfinish(session, exitstatus):
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    stats = reporter.stats if reporter else {}
    ran = sum(len(stats.get(kind, ())) for kind in ("passed", "failed", "error"))
    if exitstatus == pytest.ExitCode.OK and ran == 0 and stats.get("skipped"):
        session.exitstatus = SKIPPED
