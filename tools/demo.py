"""What tools/run.sh shows with no display (python3 -m tools.demo, from the root)."""

import argparse
import os
import sys
import time

from harness import Failure, Unavailable, wine
from harness.catalogue import IDC_DETAILS, IDC_HEADLINE
from harness.user import Run


def demo(session, folder):
    run = Run(session, "demo")
    program = run.start()
    try:
        main = run.continue_to_verdict(program)
        # The pointer would leave a hover mark on a button in the pictures.
        run.point(0, 0)
        time.sleep(0.5)
        compact = run.screenshot(os.path.join(folder, "compact.png"), main.rect)
        headline = " ".join(main.control(IDC_HEADLINE).text.split())
        run.click(main.control(IDC_DETAILS))
        full = run.main_when(program, "the expanded window",
                             lambda m: not m.control(IDC_DETAILS).enabled)
        run.point(0, 0)
        time.sleep(0.5)
        expanded = run.screenshot(os.path.join(folder, "expanded.png"), full.rect)
        status = run.close(program, full)
    finally:
        run.stop_all()
    print("Verdict: %s\nScreenshots: %s, %s\nQorvalin ended with exit code %d"
          % (headline, compact, expanded, status))
    return 0 if status == 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--arch", choices=sorted(wine.ARCHES), default="x86_64",
                        help="the build to run: x86_64 under wine64, i686 under 32-bit Wine")
    parser.add_argument("work", help="the Wine session's folder (its prefix is kept for the next "
                                     "run)")
    parser.add_argument("pictures", help="the folder for the two pictures")
    args = parser.parse_args()
    try:
        session = wine.start_built(args.work, args.arch, keep_prefix=True)
    except Unavailable as e:
        print("The program cannot run under Wine here: %s" % e, file=sys.stderr)
        return 1
    try:
        print("Wine prefix %s ready; X display :%d" % (session.prefix, session.display))
        return demo(session, args.pictures)
    except Failure as e:
        print("FAILED: %s" % e, file=sys.stderr)
        return 1
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
