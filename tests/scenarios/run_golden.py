#!/usr/bin/env python3
"""Runs qorvalin-sim on scenario files and compares with their golden files.

A case is GROUP/NAME.json with exactly one of:
  NAME.expected  the report: exit status 0, this standard output exactly, nothing on stderr;
  NAME.error     a bad scenario: exit status 2, nothing on stdout, this stderr exactly.
The simulator runs in the case's folder with the bare file name, so messages do not depend on
where the tree lives.

  run_golden.py --sim PATH CASE.json...   check cases
  run_golden.py --sim PATH --usage        check the command line's own refusals
  run_golden.py --updater TOOL            check tools/update_golden.py with stand-in simulators
  run_golden.py --skip REASON             report the cases as skipped (exit status 77)

This only ever compares: golden files are written by tools/update_golden.py alone. A run with
QORVALIN_UPDATE_GOLDEN set fails, so that a variable left set in the shell cannot turn checks
into passes.
"""
import argparse
import difflib
import os
import signal
import subprocess
import sys
import tempfile


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
    return subprocess.run([os.path.abspath(sim), base], cwd=folder, capture_output=True,
                          timeout=60)


def check_case(sim, path):
    name = case_name(path)
    stem = os.path.splitext(path)[0]
    expected_path, error_path = stem + '.expected', stem + '.error'
    have = [p for p in (expected_path, error_path) if os.path.exists(p)]
    result = run(sim, path)

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


# The updater's refusals and writes, each with a stand-in simulator: what the stand-in writes
# to standard output and standard error and its exit status (a negative one: killed by that
# signal), whether the update must succeed, and the golden files afterwards. Every case starts
# with a stale NAME.expected.
STALE = {'.expected': b'old\n'}
UPDATER_CASES = [
    ('a crash', b'report\n', b'', -signal.SIGSEGV, False, STALE),
    ('exit status 1', b'', b'case.json: refused\n', 1, False, STALE),
    ('a report with standard error', b'report\n', b'warning\n', 0, False, STALE),
    ('a refusal with standard output', b'report\n', b'case.json: refused\n', 2, False, STALE),
    ('a report', b'report\n', b'', 0, True, {'.expected': b'report\n'}),
    ('a refusal', b'', b'case.json: refused\n', 2, True, {'.error': b'case.json: refused\n'}),
]

STAND_IN = """import os, signal, sys
os.write(1, %(out)r)
os.write(2, %(err)r)
if %(status)d < 0:
    os.kill(os.getpid(), -%(status)d)
sys.exit(%(status)d)
"""


def check_updater(tool):
    """tools/update_golden.py writes what the simulator reported or refused, and nothing else."""
    ok = True
    for kind, out, err, status, succeeds, after in UPDATER_CASES:
        with tempfile.TemporaryDirectory() as root:
            group = os.path.join(root, 'group')
            os.mkdir(group)
            with open(os.path.join(group, 'case.json'), 'w') as f:
                f.write('{}\n')
            with open(os.path.join(group, 'case.expected'), 'wb') as f:
                f.write(STALE['.expected'])
            sim = os.path.join(root, 'sim')
            with open(sim, 'w') as f:
                f.write('#!%s\n' % sys.executable +
                        STAND_IN % {'out': out, 'err': err, 'status': status})
            os.chmod(sim, 0o755)
            result = subprocess.run([sys.executable, tool, '--sim', sim,
                                     os.path.join(group, 'case.json')],
                                    capture_output=True, timeout=60)
            found = {}
            for suffix in ('.expected', '.error'):
                path = os.path.join(group, 'case' + suffix)
                if os.path.exists(path):
                    with open(path, 'rb') as f:
                        found[suffix] = f.read()
            problems = []
            if (result.returncode == 0) != succeeds:
                problems.append('exit status %d' % result.returncode)
            if not succeeds and b'group/case' not in result.stdout + result.stderr:
                problems.append('the refusal does not name the case')
            if found != after:
                problems.append('golden files %r, expected %r' % (found, after))
            for problem in problems:
                print('update_golden.py after %s: %s' % (kind, problem))
            ok = ok and not problems
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--sim', help='the qorvalin-sim program')
    parser.add_argument('--usage', action='store_true', help='check the command line')
    parser.add_argument('--updater', help='check this tools/update_golden.py')
    parser.add_argument('--skip', help='why the cases cannot run here')
    parser.add_argument('cases', nargs='*')
    args = parser.parse_args()

    if 'QORVALIN_UPDATE_GOLDEN' in os.environ:
        print('QORVALIN_UPDATE_GOLDEN is set: the golden tests only compare, and a test run '
              'never writes a golden file. Unset it; write golden files with '
              'tools/update_golden.py GROUP/NAME after checking the output by hand.')
        return 1
    if args.skip:
        print('skipped: ' + args.skip)
        return 77
    if args.updater:
        return 0 if check_updater(args.updater) else 1
    if not args.sim:
        parser.error('--sim is needed')
    if args.usage:
        return 0 if check_usage(args.sim) else 1
    ok = True
    for path in args.cases:
        ok = check_case(args.sim, path) and ok
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
