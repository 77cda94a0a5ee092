"""The golden scenarios: each tests/scenarios/GROUP/NAME.json with exactly one of NAME.expected
(the simulator's report: exit status 0, this standard output, nothing on standard error) or
NAME.error (a bad scenario: exit status 2, nothing on standard output, this standard error).
The tests only compare; tools/update_golden.py alone writes golden files."""

import difflib
import subprocess
from pathlib import Path

from harness import build

FOLDER = build.ROOT / "tests" / "scenarios"
# Each golden file: the run's exit status and the stream it holds (the other stays empty).
KINDS = {".expected": (0, "stdout"), ".error": (2, "stderr")}


def cases():
    """Every scenario file, as GROUP/NAME."""
    return sorted(case_name(path) for path in FOLDER.glob("*/*.json"))


def case_name(path):
    path = Path(path).resolve()
    return "%s/%s" % (path.parent.name, path.stem)


def scenario_path(case):
    """GROUP/NAME below tests/scenarios, or a scenario file's own path."""
    return Path(case) if case.endswith(".json") else FOLDER / (case + ".json")


def diff(expected, actual, label):
    lines = difflib.unified_diff(expected.decode("latin-1").splitlines(keepends=True),
                                 actual.decode("latin-1").splitlines(keepends=True),
                                 label, "qorvalin-sim output")
    return "".join(line if line.endswith("\n") else line + "\n\\ No newline at end of file\n"
                   for line in lines)


def run(sim, path):
    """The simulator on the scenario, run in its folder with the bare file name, so that its
    messages do not depend on where the tree lives."""
    path = Path(path).resolve()
    return subprocess.run([str(Path(sim).resolve()), path.name], cwd=path.parent,
                          capture_output=True, timeout=60)


def golden_kind(result):
    """The golden file that the run makes (".expected" or ".error"), or None for a run that is
    neither a report nor a refusal (a crash, say)."""
    for suffix, (status, stream) in KINDS.items():
        other = "stderr" if stream == "stdout" else "stdout"
        if result.returncode == status and not getattr(result, other):
            return suffix
    return None
