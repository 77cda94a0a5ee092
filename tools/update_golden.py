"""Writes the golden files of scenarios from what qorvalin-sim makes of them.

  python3 -m tools.update_golden [--sim PATH] CASE...      (from the clone's root)

A CASE is GROUP/NAME (below tests/scenarios) or the path of its .json file. A report (exit
status 0, nothing on standard error) becomes NAME.expected, a refusal (exit status 2, nothing on
standard output) NAME.error, and the other of the two goes. Anything else, a crash or a run that
does not end among them, is refused and leaves the case's files as they were. Each change is
shown as a diff: read every line of it against the rules before committing it, as the golden
tests will hold the program to it from then on.
"""
import argparse
import os
import subprocess
import sys

from harness import build, golden


def update(sim, path):
    """Writes the case's golden file; False, with the reason printed, when it may not."""
    name = golden.case_name(path)
    if not path.is_file():
        print("%s: no scenario file %s" % (name, path))
        return False
    try:
        result = golden.run(sim, path)
    except subprocess.TimeoutExpired:
        print("%s: refused, the simulator did not end" % name)
        return False
    kind = golden.golden_kind(result)
    if kind is None:
        print("%s: refused, exit status %d with %d bytes of output and %d on standard error "
              "(a report is exit status 0 with nothing on standard error, a refusal exit status "
              "2 with nothing on standard output)" % (name, result.returncode, len(result.stdout),
                                                      len(result.stderr)))
        sys.stdout.write(result.stderr.decode("latin-1"))
        return False
    target, data = path.with_suffix(kind), getattr(result, golden.KINDS[kind][1])
    for other in (path.with_suffix(suffix) for suffix in golden.KINDS if suffix != kind):
        if other.exists():
            sys.stdout.write(golden.diff(other.read_bytes(), b"", name + other.suffix))
            other.unlink()
    old = target.read_bytes() if target.exists() else None
    if old == data:
        print("%s: unchanged" % (name + kind))
    else:
        sys.stdout.write(golden.diff(old or b"", data, name + kind))
        target.write_bytes(data)
        print("%s: written" % (name + kind))
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    default = build.FOLDER / "qorvalin-sim"
    parser.add_argument("--sim", default=str(default),
                        help="the qorvalin-sim program (default: %s)" % default)
    parser.add_argument("cases", nargs="+", metavar="CASE")
    args = parser.parse_args()
    if not os.access(args.sim, os.X_OK):
        parser.error("no simulator at %s: build it first, or name it with --sim" % args.sim)
    updated = [update(args.sim, golden.scenario_path(case)) for case in args.cases]
    return 0 if all(updated) else 1


if __name__ == "__main__":
    sys.exit(main())
