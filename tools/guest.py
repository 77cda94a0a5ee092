"""The guests' command: the i686 program on an emulated PC, in the Debian guest or on ReactOS.

    python3 -m tools.guest report --guest debian --board BOARD --windows MODE [--ports HOW] [EXE]
    python3 -m tools.guest report --guest reactos --board BOARD [--show SHOW[,SHOW...]]
        [--reactos TREE | --iso LIVECD] [--scenario-out FILE] [--screenshot PNG]
        [--records FILE] [--seconds N] [EXE]
    python3 -m tools.guest refresh [--guest debian|reactos] [--board BOARD] [--into FOLDER]
        [--reactos TREE | --iso LIVECD] [EXE]
    python3 -m tools.guest bench --guest debian --board BOARD --windows MODE --tools DIR
        [--runs N] [EXE]

report prints what the window showed after Continue in the simulator's report format (the
headline:, panel: and detail: lines), then for debian the guest's bus 0 PCI functions (pci:
BB:DD.F 0xDDDDVVVV), for reactos how the window first appeared (shown:), and exit: N. refresh
boots each board whose recording the guests keep (harness/recordings.py; both guests and every
board unless --guest or --board names one) and keeps QVDUMP.EXE's fresh recording in FOLDER
(tests/scenarios/guests) where it says something new. bench runs tools/bench/wine_bench.py in
the guest with the i686 benchmark programs in DIR (tools/bench/CMakeLists.txt builds them) and
prints its summary.
EXE is the i686 Qorvalin.exe, the build's by default. Run from the clone's root. Exit status: 0
done, 1 failed, 3 the guest cannot be had here."""

import argparse
import os
import shutil
import subprocess
import sys
import time

from harness import Failure, Unavailable, boards, build, guest, observation, recordings
from harness import debian_guest, modes, reactos_guest


def build_files(*names):
    """The native build's files of these names (harness/build.py), brought up to date (the
    build configured first if it never was)."""
    if not (build.FOLDER / "build.ninja").is_file():
        subprocess.run(["cmake", "-S", build.ROOT, "-B", build.FOLDER, "-G", "Ninja"],
                       stdout=sys.stderr, check=True)
    known = build.files()
    # Ninja names a file by its path in the build folder.
    subprocess.run(["ninja", "-C", build.FOLDER] +
                   [os.path.relpath(known[name], build.FOLDER) for name in names],
                   stdout=sys.stderr, check=True)


def debian_report(args):
    item = {"name": "report", "windows": args.windows, "ports": args.ports}
    said = debian_guest.run_plan(args.board, [item], args.exe,
                                 build.ROOT / "build" / "guest" / "debian" / args.board)
    result = said["runs"]["report"]
    if "error" in result:
        raise Failure("the run failed in the guest:\n" + result["error"])
    seen = observation.of_run(result)
    for line in seen.lines(observation.SHOWN_PARTS + ("exit",),
                           ["pci: %s 0x%08X" % (address, ident) for address, ident in said["pci"]]):
        print(line)


def debian_bench(args):
    """The benchmark as on the host with --arch i686, under the port-access wrapper (whose
    access its Wine programs inherit), on the display and server of the guest's Wine session."""
    folder = build.ROOT / "build" / "guest" / "debian" / "bench"
    debian_guest.hand_in(folder, (
        "/io/ports /usr/bin/python3 -B -m tools.bench.wine_bench --arch i686 "
        "--exe /io/Qorvalin.exe --baseline /io/bench/minimal.exe "
        "--design /io/bench/design/Qorvalin.exe --watch /io/bench/watch.exe "
        "--winspy /io/build/winspy.exe --work /tmp/bench --prefix /opt/qorvalin/prefix "
        "--runs %d --windows %s --display \"$(python3 -c 'import json; print(json.load(open("
        "\"/run/qorvalin-session.json\"))[\"display\"])')\" >/io/bench.md 2>/io/bench-runs.log\n"
        % (args.runs, args.windows)), args.exe)
    os.makedirs(folder / "src" / "tools" / "bench")
    shutil.copyfile(build.ROOT / "tools" / "bench" / "wine_bench.py",
                    folder / "src" / "tools" / "bench" / "wine_bench.py")
    shutil.copytree(args.tools, folder / "bench")
    started = time.time()
    machine = guest.run(debian_guest.Debian(), args.board, folder, 120 + 60 * args.runs)
    if machine.heard[-1] != "job\tdone\t0":
        raise Failure("the benchmark failed in the guest (%s); its log in %s"
                      % (machine.heard[-1], folder / "bench-runs.log"))
    print((folder / "bench.md").read_text())
    print("(one boot of the guest on %s, %s, ports granted: %.0f s in all)"
          % (args.board, args.windows, time.time() - started))


def first_boot(args):
    """The image's first boot, where this host runs no 32-bit programs (tools/vm/image.sh):
    the disk writable, tools/vm/firstboot.sh installs 32-bit Wine and makes its prefix."""
    image = debian_guest.Debian(writable=True)
    image.folder = args.image
    folder = os.path.join(args.image, "io")
    debian_guest.hand_in(folder, (build.ROOT / "tools" / "vm" / "firstboot.sh").read_text())
    machine = guest.boot(image, "pc", folder, 900, saved=False)
    if machine.heard[-1] != "job\tdone\t0":
        raise Failure("the first boot ended so: %r (its log in %s/job.log)"
                      % (machine.heard[-1], folder))
    shutil.rmtree(folder)


def reactos_report(args):
    shows = args.show.split(",")
    if any(show not in reactos_guest.SHOWS for show in shows):
        raise SystemExit("--show takes %s" % ", ".join(reactos_guest.SHOWS))
    build_files("sim", "qorvalin_qvdrive_i686")
    work = build.ROOT / "build" / "guest" / "reactos" / args.board
    try:
        machine, found = reactos_guest.boot(args.board, args.exe, work, args.seconds, shows,
                                            args.iso, args.reactos, args.screenshot)
    finally:
        if args.records and (work / "channel.txt").is_file():
            shutil.copyfile(work / "channel.txt", args.records)
    if args.scenario_out:
        reactos_guest.write_scenario(found, args.scenario_out)
    print("guest.py: desktop and driver after %.0f s, done after %.0f s"
          % (machine.times["hello"], time.time() - machine.times["started"]), file=sys.stderr)
    for line in observation.of_run(found["runs"][0]).lines():
        print(line)


def refresh_debian(board, modes, exe, folder):
    items = [{"name": mode, "windows": mode, "ports": "granted"} for mode in modes]
    said = debian_guest.run_plan(board, items, exe,
                                 build.ROOT / "build" / "guest" / "debian" / board)
    image = os.path.basename(debian_guest.Debian().image())
    for mode in modes:
        result = said["runs"][mode]
        if "error" in result:
            raise Failure("the run failed in the guest:\n" + result["error"])
        where = ("In the Debian guest (Debian 12 and its 32-bit Wine, image %s of "
                 "tools/vm/image.sh) in the Windows mode %s with port access granted, on QEMU's "
                 "board %s: %s" % (image, mode, board, boards.BOARDS[board]["about"]))
        seen = observation.of_run(result, guest.recording(result))
        yield mode, recordings.keep(seen.recording, where, seen, build.path("sim"), "debian",
                                    board, mode, folder)


def refresh_reactos(board, exe, iso, tree, folder):
    found = reactos_guest.boot(board, exe, build.ROOT / "build" / "guest" / "reactos" / board,
                               600, iso=iso, tree=tree)[1]
    made = ("built from the ReactOS tree %s" % reactos_guest.tree_identity(tree) if tree else
            os.path.basename(iso) if iso else "built last here")
    where = "On a ReactOS live CD (%s) on QEMU's board %s: %s" % (
        made, board, boards.BOARDS[board]["about"])
    seen = observation.of_run(found["runs"][0], guest.recording(found))
    yield None, recordings.keep(seen.recording, where, seen, build.path("sim"), "reactos",
                                board, folder=folder)


def refresh(args):
    modes = {}
    for guest_name, board, mode in recordings.kept():
        if args.guest in (None, guest_name) and args.board in (None, board):
            modes.setdefault((guest_name, board), []).append(mode)
    for (guest_name, board), board_modes in modes.items():
        if guest_name == "debian":
            build_files(*debian_guest.HANDED)
            kept = refresh_debian(board, board_modes, args.exe, args.into)
        else:
            build_files("sim", "qorvalin_qvdrive_i686")
            kept = refresh_reactos(board, args.exe, args.iso, args.reactos, args.into)
        for mode, written in kept:
            print("%s: %s" % (recordings.path(guest_name, board, mode, args.into),
                              "kept anew" if written else "unchanged"))


def report(args):
    (debian_report if args.guest == "debian" else reactos_report)(args)


def main():
    parser = argparse.ArgumentParser(prog="python3 -m tools.guest", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    for name, run in (("report", report), ("bench", debian_bench)):
        command = commands.add_parser(name)
        command.set_defaults(run=run)
        command.add_argument("--guest", required=True,
                             choices=["debian", "reactos"] if name == "report" else ["debian"])
        command.add_argument("--board", required=True,
                             choices=sorted(set(boards.of("debian")) | set(boards.of("reactos"))))
        if name == "report":
            command.add_argument("--ports", choices=debian_guest.PORTS, default="granted")
            command.add_argument("--show", default="normal")
            command.add_argument("--reactos", default=os.environ.get("QORVALIN_REACTOS_TREE"),
                                 metavar="TREE")
            command.add_argument("--iso", metavar="LIVECD")
            command.add_argument("--scenario-out")
            command.add_argument("--screenshot")
            command.add_argument("--records")
            command.add_argument("--seconds", type=int, default=600)
        command.add_argument("--windows", choices=sorted(modes.MODES))
        if name == "bench":
            command.add_argument("--tools", required=True)
            command.add_argument("--runs", type=int, default=10)
        command.add_argument("exe", nargs="?")
    command = commands.add_parser("refresh")
    command.set_defaults(run=refresh)
    command.add_argument("--guest", choices=["debian", "reactos"])
    command.add_argument("--board", choices=sorted(boards.BOARDS))
    command.add_argument("--into", default=recordings.FOLDER.relative_to(build.ROOT),
                         metavar="FOLDER")
    command.add_argument("--reactos", default=os.environ.get("QORVALIN_REACTOS_TREE"),
                         metavar="TREE")
    command.add_argument("--iso", metavar="LIVECD")
    command.add_argument("exe", nargs="?")
    command = commands.add_parser("first-boot")
    command.set_defaults(run=first_boot)
    command.add_argument("image")
    args = parser.parse_args()
    if args.command not in ("first-boot", "refresh"):
        if args.board not in boards.of(args.guest):
            parser.error("the %s guest runs on %s" % (args.guest, ", ".join(boards.of(args.guest))))
        if args.guest == "debian" and not args.windows:
            parser.error("the debian guest needs --windows")
    try:
        if args.command != "first-boot":
            if args.guest == "debian" and args.command != "refresh":
                build_files(*debian_guest.HANDED)
            args.exe = os.path.abspath(args.exe) if args.exe else str(build.path("win32_exe"))
        args.run(args)
    except Unavailable as e:
        print("guest.py: %s" % e, file=sys.stderr)
        return 3
    except Failure as e:
        print("guest.py: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
