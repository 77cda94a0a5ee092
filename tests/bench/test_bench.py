"""tools/bench.sh --smoke as people run it: every section of its report there, with its figures."""

import os
import re
import shutil
import subprocess

from harness import Unavailable, build, wine
from tools.bench.wine_bench import ROWS

COMPILERS = ("x86_64-w64-mingw32-g++-win32", "i686-w64-mingw32-g++-win32")
# A figure, with its KiB or its range in brackets: 142336 (139.0 KiB), 1763 (0-2500), 5.4; a time
# from one window's event to another's may come out below 0, as the watcher looks at one window
# after the other.
FIGURE = r"-?\d+(\.\d+)?( \((\d+(\.\d+)?-\d+(\.\d+)?|\d+\.\d KiB)\))?"
HEADER = ("date", "machine", "load average at the start", "source", "Wine", "compiler",
          "smoke run")
UNDER_WINE = ("Start-up under Wine", "Start-up of the i686 program under 32-bit Wine",
              "Start-up in the virtual machine")
SECTIONS = (".text", ".data", ".rdata", ".idata", ".rsrc")
# What each section under Wine and each build's file sizes give besides their tables.
RATIOS = (r"Median ratio \d\.\d{3} \(goal at most 1\.2: (met|NOT MET)\)",
          r"Against the design floor: median ratio \d\.\d{3}; .* -?\d+ ms\.$")
SIZES = (r"code \(\.text\): \d+",
         r"vendor table \(in \.rdata\): \d+ .* array \d+ and the names \d+",
         r"resources' own bytes: \d+ .*bitmaps \d+.*icons \d+",
         r"the file above the resources' own bytes: \d+ \(\d+\.\d KiB\)")


def headed(text, level):
    """The text under each heading of that level, by the heading's text."""
    return dict(re.findall(r"^%s (.*)\n((?:(?!%s ).*\n?)*)" % (level, level), text, re.M))


def assert_figures(text, rows, lines=()):
    """The table rows of text that start so give figures and nothing else; the lines are there."""
    for first in rows:
        row = re.search(r"^\| %s \|(.*)\|$" % re.escape(first), text, re.M)
        assert row and all(re.fullmatch(FIGURE, c.strip()) for c in row[1].split("|")), \
            row[0] if row else first
    for line in lines:
        assert re.search("^" + line, text, re.M), line


def test_smoke_run_reports_every_section():
    missing = wine.missing_prerequisites("x86_64") + [
        "%s is not installed" % c for c in COMPILERS if not shutil.which(c)]
    if missing:
        raise Unavailable("; ".join(missing))
    folder = build.FOLDER / "bench"
    # A display of its own, where other sessions' displays must be kept clear of.
    display = os.environ.get("QORVALIN_BENCH_DISPLAY")
    done = subprocess.run(["bash", "tools/bench.sh", "--smoke", "--build-dir", str(folder)] +
                          (["--display", display] if display else []),
                          cwd=build.ROOT, capture_output=True, text=True, timeout=1200)
    assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    assert_figures(done.stdout, (), [r"- %s: \S" % field for field in HEADER])
    sections = headed(done.stdout, "##")

    # The i686 program's section needs 32-bit Wine on this machine; the guest's, QEMU and the
    # guest, whose root file system that Wine comes from. Where they are, neither is skipped.
    i686 = wine.i686_unavailable() is None
    vm = i686 and shutil.which("qemu-system-x86_64")
    for title, measured in zip(UNDER_WINE, (True, i686, vm)):
        if measured or "Skipped" not in sections[title]:
            assert_figures(sections[title], [what for what, *_ in ROWS], RATIOS)

    reports = list((build.ROOT / "tests" / "scenarios").glob("*/*.expected"))
    assert_figures(sections["The check run in the simulator"],
                   {path.parent.name for path in reports},
                   ["Check runs in the simulator: 10 runs of each of %d scenarios" % len(reports)])

    sizes = headed(sections["File sizes"], "###")
    for label, exe in (("i686", "win32"), ("x86_64", "win64")):
        size = os.path.getsize(folder / exe / "Qorvalin.exe")
        goal = ", goal at most 49152 .*: (met|NOT MET)$" if label == "i686" else "$"
        assert_figures(sizes["%s: %d (%.1f KiB)" % (label, size, size / 1024)],
                       ["section " + name for name in SECTIONS],
                       ["- " + line for line in SIZES[:-1] + (SIZES[-1] + goal,)])
