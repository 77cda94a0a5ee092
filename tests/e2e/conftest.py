"""The end-to-end tests' fixtures: the Wine session of the build --arch names, a run a test."""

import pytest

from harness import build, wine
from harness.user import Run


def pytest_addoption(parser):
    parser.addoption("--arch", choices=sorted(wine.ARCHES), default="x86_64",
                     help="the build under test: x86_64 under wine64, i686 under 32-bit Wine")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    if call.when == "call":
        item.failed_call = outcome.get_result().failed


@pytest.fixture(scope="session")
def arch(request):
    return request.config.getoption("--arch")


@pytest.fixture(scope="session")
def built(arch):
    """A test-only Windows program of the build under test, by its CMake target's name."""
    return lambda target: wine.test_program(target, arch)


@pytest.fixture(scope="session")
def session(arch):
    started = wine.start_built(build.FOLDER / "tests" / "e2e" / arch, arch)
    print("Wine prefix %s ready; X display :%d" % (started.prefix, started.display))
    yield started
    started.close()


@pytest.fixture
def run(session, request):
    """The test's run; its programs are ended, and the Windows version put back, afterwards."""
    run = Run(session, request.node.name)
    session.reset_versions()
    yield run
    try:
        if getattr(request.node, "failed_call", False):
            print(run.failure_report())
    finally:
        run.stop_all()
        session.reset_versions()
