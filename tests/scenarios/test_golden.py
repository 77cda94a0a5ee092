"""The simulator on every golden scenario, its command line's own refusals, and the updater of
the golden files with stand-in simulators."""

import signal
import subprocess
import sys

import pytest

from harness import build, golden


@pytest.fixture(scope="module")
def sim():
    return build.path("sim")


@pytest.mark.parametrize("case", golden.cases())
def test_scenario(sim, case):
    path = golden.scenario_path(case)
    have = [suffix for suffix in golden.KINDS if path.with_suffix(suffix).exists()]
    assert len(have) == 1, "%s needs exactly one of .expected and .error" % case
    status, stream = golden.KINDS[have[0]]
    expected = path.with_suffix(have[0]).read_bytes()
    result = golden.run(sim, path)
    actual = getattr(result, stream)
    assert actual == expected, golden.diff(expected, actual, case + have[0])
    assert golden.golden_kind(result) == have[0], (
        "exit status %d, expected %d; stdout %r, stderr %r"
        % (result.returncode, status, result.stdout[:200], result.stderr[:200]))


@pytest.mark.parametrize("args", [[], ["a.json", "b.json"], ["no-such-scenario.json"]],
                         ids=["no file", "two files", "a file that does not exist"])
def test_command_line_refusals(sim, args, tmp_path):
    result = subprocess.run([str(sim)] + args, cwd=tmp_path, capture_output=True, timeout=60)
    assert (result.returncode, result.stdout) == (2, b"")
    assert result.stderr.strip(), "no message on standard error"


# The updater with a stand-in simulator: what the stand-in writes to standard output and
# standard error and its exit status (a negative one: killed by that signal), and the golden
# files afterwards (None: the update is refused). Every case starts with a stale NAME.expected.
STALE = {".expected": b"old\n"}
UPDATER_CASES = {
    "a crash": (b"report\n", b"", -signal.SIGSEGV, None),
    "exit status 1": (b"", b"case.json: refused\n", 1, None),
    "a report with standard error": (b"report\n", b"warning\n", 0, None),
    "a refusal with standard output": (b"report\n", b"case.json: refused\n", 2, None),
    "a report": (b"report\n", b"", 0, {".expected": b"report\n"}),
    "a refusal": (b"", b"case.json: refused\n", 2, {".error": b"case.json: refused\n"}),
}

STAND_IN = """import os, sys
os.write(1, %r)
os.write(2, %r)
os.kill(os.getpid(), -%d) if %d < 0 else sys.exit(%d)
"""


@pytest.mark.parametrize("kind", UPDATER_CASES)
def test_updater_writes_only_reports_and_refusals(kind, tmp_path):
    out, err, status, after = UPDATER_CASES[kind]
    group = tmp_path / "group"
    group.mkdir()
    (group / "case.json").write_text("{}\n")
    (group / "case.expected").write_bytes(STALE[".expected"])
    sim = tmp_path / "sim"
    sim.write_text("#!%s\n" % sys.executable + STAND_IN % (out, err, status, status, status))
    sim.chmod(0o755)
    result = subprocess.run([sys.executable, "-m", "tools.update_golden", "--sim", str(sim),
                             str(group / "case.json")],
                            cwd=build.ROOT, capture_output=True, timeout=60)
    found = {suffix: (group / ("case" + suffix)).read_bytes()
             for suffix in golden.KINDS if (group / ("case" + suffix)).exists()}
    assert result.returncode == (0 if after else 1), result.stdout + result.stderr
    assert found == (after or STALE)
    if after is None:
        assert b"group/case" in result.stdout + result.stderr, "the refusal names no case"
