#!/usr/bin/env python3
"""Runs qorvalin-sim on scenario files and compares with their golden files.

A case is GROUP/NAME.json with exactly one of:
  NAME.expected  the report: exit status 0, this standard output exactly, nothing on stderr;
  NAME.error     a bad scenario: exit status 2, nothing on stdout, this stderr exactly.
The simulator runs in the case's folder with the bare file name, so messages do not depend on
where the tree lives.

  run_golden.py --sim PATH CASE.json...   check cases
  run_golden.py --sim PATH --usage        check the command line's own refusals

To write a golden file from the simulator's output, name the case (GROUP/NAME) in the
environment variable QORVALIN_UPDATE_GOLDEN (several separated by commas), or pass --update.
Only do that for output you have checked by hand.
"""
import argparse
import difflib
import os
import subprocess
import sys


def case_name(path):
    folder, base = os.path.split(os.path.abspath(path))
    return os.path.basename(folder) + '/' + os.path.splitext(base)[0]


def show(data):
    return data.decode('latin-1').splitlines(keepends=True)


def diff(expected, actual, label):
    lines = difflib.unified_diff(show(expected), show(actual), label, 'qorvalin-sim output')
    return ''.join(line if line.endswith('\n') else line + '\n\\ No newline at end of file\n'
                   for line in lines)


def run(sim, path):
    folder, base = os.path.split(os.path.abspath(path))
    return subprocess.run([sim, base], cwd=folder, capture_output=True, timeout=60)


def check_case(sim, path, update):
    name = case_name(path)
    stem = os.path.splitext(path)[0]
    expected_path, error_path = stem + '.expected', stem + '.error'
    have = [p for p in (expected_path, error_path) if os.path.exists(p)]
    result = run(sim, path)

    if update:
        target = expected_path if result.returncode == 0 else error_path
        data = result.stdout if result.returncode == 0 else result.stderr
        for stale in have:
            if stale != target:
                os.remove(stale)
        with open(target, 'wb') as f:
            f.write(data)
        print('%s: wrote %s (exit status %d)' % (name, os.path.basename(target),
                                                 result.returncode))
        return True

    if len(have) != 1:
        print('%s: needs exactly one of %s and %s' % (name, os.path.basename(expected_path),
                                                      os.path.basename(error_path)))
        return False
    failures = []
    if have[0] == expected_path:
        with open(expected_path, 'rb') as f:
            expected = f.read()
        if result.returncode != 0:
            failures.append('exit status %d, expected 0' % result.returncode)
        if result.stderr:
            failures.append('unexpected standard error:\n' + result.stderr.decode('latin-1'))
        if result.stdout != expected:
            failures.append('standard output differs:\n' +
                            diff(expected, result.stdout, name + '.expected'))
    else:
        with open(error_path, 'rb') as f:
            expected = f.read()
        if result.returncode != 2:
            failures.append('exit status %d, expected 2' % result.returncode)
        if result.stdout:
            failures.append('standard output should be empty:\n' +
                            result.stdout.decode('latin-1'))
        if result.stderr != expected:
            failures.append('standard error differs:\n' +
                            diff(expected, result.stderr, name + '.error'))
    for failure in failures:
        print('%s: %s' % (name, failure))
    return not failures


def check_usage(sim):
    """The command line itself: no file, two files, and a file that does not exist."""
    ok = True
    missing = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'no-such-scenario.json')
    for args in ([], ['a.json', 'b.json'], [missing]):
        result = subprocess.run([sim] + args, capture_output=True, timeout=60)
        problems = []
        if result.returncode != 2:
            problems.append('exit status %d, expected 2' % result.returncode)
        if result.stdout:
            problems.append('standard output not empty')
        if not result.stderr.strip():
            problems.append('no message on standard error')
        for problem in problems:
            print('qorvalin-sim %s: %s' % (' '.join(args), problem))
        ok = ok and not problems
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--sim', required=True, help='the qorvalin-sim program')
    parser.add_argument('--update', action='store_true',
                        help='write the golden files of the named cases from the output')
    parser.add_argument('--usage', action='store_true', help='check the command line')
    parser.add_argument('cases', nargs='*')
    args = parser.parse_args()

    if args.usage:
        return 0 if check_usage(args.sim) else 1
    named = {n.strip() for n in os.environ.get('QORVALIN_UPDATE_GOLDEN', '').split(',')
             if n.strip()}
    ok = True
    for path in args.cases:
        update = args.update or case_name(path) in named
        ok = check_case(args.sim, path, update) and ok
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
