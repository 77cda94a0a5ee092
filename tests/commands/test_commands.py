"""The README's first command as a user on a machine without a display types it: tools/run.sh
builds the program, plays the user on a virtual display of its own, saves both pictures and
prints the verdict the window showed."""

import os
import subprocess

from harness import build, catalogue, scripts

HEADLINES = (catalogue.MSG_HEADLINE_SUPPORTED, catalogue.MSG_HEADLINE_NOT_SUPPORTED,
             catalogue.MSG_HEADLINE_CHANGES)


def test_run_sh_without_a_display():
    shots = build.ROOT / "build" / "screenshots"
    for name in ("compact.png", "expanded.png"):
        (shots / name).unlink(missing_ok=True)
    environment = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    done = subprocess.run(["bash", scripts.RUN], cwd=build.ROOT, env=environment,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=900)
    assert done.returncode == 0, done.stdout[-2000:] + done.stderr[-2000:]
    said = dict(line.partition(": ")[::2] for line in done.stdout.splitlines() if ": " in line)
    # The headline as it reads, its line breaks and double blanks as single blanks.
    assert said.get("Verdict") in [" ".join(catalogue.text(n).split()) for n in HEADLINES]
    assert "Qorvalin ended with exit code 0" in done.stdout.splitlines()
    assert all((shots / name).stat().st_size > 0 for name in ("compact.png", "expanded.png"))
