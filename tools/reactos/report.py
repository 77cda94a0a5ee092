"""One boot of the ReactOS guest for tools/reactos.sh: prints the first run's report and writes
what was asked for (scenario, records, screenshot)."""

import argparse
import shutil
import sys
import time

import guest
from harness import wine


def main():
    parser = argparse.ArgumentParser(prog="tools/reactos.sh report")
    parser.add_argument("--board", required=True, choices=sorted(guest.BOARDS))
    parser.add_argument("--show", default="normal")
    parser.add_argument("--livecd", required=True)
    parser.add_argument("--release", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--scenario-out")
    parser.add_argument("--screenshot")
    parser.add_argument("--records")
    parser.add_argument("--seconds", type=int, default=600)
    args = parser.parse_args()
    runs = args.show.split(",")
    if any(show not in guest.SHOWS for show in runs):
        parser.error("--show takes %s" % ", ".join(guest.SHOWS))

    started = time.time()
    try:
        lines, timings = guest.boot(args.livecd, args.release, args.board, runs, args.work,
                                    args.seconds, args.screenshot)
    except wine.Failure as e:
        print("reactos.sh: %s" % e, file=sys.stderr)
        return 1
    finally:
        if args.records:
            shutil.copyfile("%s/records.txt" % args.work, args.records)
    found = guest.parse(lines)
    if args.scenario_out:
        guest.write_scenario(found, args.scenario_out)
    print("reactos.sh: desktop and driver after %.0f s, done after %.0f s" %
          (timings["hello"], time.time() - started), file=sys.stderr)
    if not found["runs"]:
        print("reactos.sh: the driver found no QORVALIN.EXE on the guest's CD drives", file=sys.stderr)
        return 1
    for line in guest.report(found["runs"][0]):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
