#!/usr/bin/env python3
"""Writes the golden files of scenarios from what qorvalin-sim makes of them.

  tools/update_golden.py [--sim PATH] CASE...

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

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCENARIOS = os.path.join(ROOT, 'tests', 'scenarios')
sys.path.insert(0, SCENARIOS)

from run_golden import case_name, diff, run  # noqa: E402


def scenario_path(case):
    if case.endswith('.json'):
        return case
    return os.path.join(SCENARIOS, case + '.json')


def update(sim, path):
    """Writes the case's golden file; False, with the reason printed, when it may not."""
    name = case_name(path)
    if not os.path.isfile(path):
        print('%s: no scenario file %s' % (name, path))
        return False
    try:
        result = run(sim, path)
    except subprocess.TimeoutExpired:
        print('%s: refused, the simulator did not end' % name)
        return False
    stem = os.path.splitext(path)[0]
    if result.returncode == 0 and not result.stderr:
        target, other, data = stem + '.expected', stem + '.error', result.stdout
    elif result.returncode == 2 and not result.stdout:
        target, other, data = stem + '.error', stem + '.expected', result.stderr
    else:
        print('%s: refused, exit status %d with %d bytes of output and %d on standard error '
              '(a report is exit status 0 with nothing on standard error, a refusal exit status '
              '2 with nothing on standard output)' % (name, result.returncode, len(result.stdout),
                                                      len(result.stderr)))
        sys.stdout.write(result.stderr.decode('latin-1'))
        return False

    old = None
    if os.path.exists(target):
        with open(target, 'rb') as f:
            old = f.read()
    if os.path.exists(other):
        with open(other, 'rb') as f:
            sys.stdout.write(diff(f.read(), b'', name + os.path.splitext(other)[1]))
        os.remove(other)
    label = name + os.path.splitext(target)[1]
    if old == data:
        print('%s: unchanged' % label)
    else:
        sys.stdout.write(diff(old or b'', data, label))
        with open(target, 'wb') as f:
            f.write(data)
        print('%s: written' % label)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--sim', default=os.path.join(ROOT, 'build', 'native', 'qorvalin-sim'),
                        help='the qorvalin-sim program (default: build/native/qorvalin-sim)')
    parser.add_argument('cases', nargs='+', metavar='CASE')
    args = parser.parse_args()
    if not os.access(args.sim, os.X_OK):
        parser.error('no simulator at %s: build it first, or name it with --sim' % args.sim)
    ok = True
    for case in args.cases:
        ok = update(args.sim, scenario_path(case)) and ok
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
