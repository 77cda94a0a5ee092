"""The reactos tests: one boot of a ReactOS live CD per board, the i686 program started from its
release CD by the in-guest driver as a user would, and what its windows show held to
qorvalin-sim's report for the machine the guest presented. They never build the live CD (an
hour): they take the image $QORVALIN_REACTOS_ISO names, else the one tools/reactos.sh built
last, and are skipped without either."""

import os
import subprocess
import sys

import guest
from harness import wine

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MSG = wine.catalogue()
MSG_HC_VENDOR_DEVICE = 1064
MSG_INFO_HARDWARE_SUPPORTED = 1087
# A boot and its runs take under two minutes; two tries must fit CTest's limit of 900 s.
BOOT_SECONDS = 420
# On the boards with a controller, the one boot also starts the program with the other show
# commands: the window must still first appear in its compact size, normal, focus on Close.
RUNS = {"pc": ["normal"], "piix3-usb-uhci": ["normal", "maximized", "minnoactive", "hide"],
        "piix4-usb-uhci": ["normal"], "two-controllers": ["normal"]}
# The host controllers each board's Details name, by PCI device number.
CONTROLLERS = {"pc": [], "piix3-usb-uhci": [0x7020], "piix4-usb-uhci": [0x7112],
               "two-controllers": [0x7020, 0x24CD]}


def live_cd(driver):
    """The live CD with this tree's driver on it, or the reason there is none."""
    iso = os.environ.get("QORVALIN_REACTOS_ISO")
    if iso:
        command = ["bash", os.path.join(ROOT, "tools", "reactos", "ready_iso.sh"), iso, driver]
    else:
        command = ["bash", os.path.join(ROOT, "tools", "reactos", "livecd.sh"), "--last", driver]
    result = subprocess.run(command, stdout=subprocess.PIPE)
    if result.returncode == 3:
        return None, "no ReactOS live CD has been built here (bash tools/reactos.sh report " \
                     "--reactos TREE ... builds one, about an hour)"
    if result.returncode != 0:
        raise wine.Failure("readying the live CD failed (status %d)" % result.returncode)
    return result.stdout.decode().strip(), None


def host_link_lost(lines):
    """The driver's notes that the host's answers on the serial port did not reach it: under
    load, ReactOS's serial driver can stop passing on what the host sends."""
    return [line.split("\t", 1)[1] for line in lines if line.startswith("note\t") and
            ("from the host" in line or "the host did not answer" in line or
             "bytes missing" in line)]


def check_shell(run):
    """The normal run as a user sees it: the splash first with the main window hidden, Escape
    ignored, Enter continues, Details, About modal, Close."""
    check, check_equal = wine.check, wine.check_equal
    shots = run["snapshots"]
    for stage in ("splash", "escape", "verdict", "details", "about", "about-closed"):
        check(stage in shots, "the driver took no %s snapshot (notes: %r)" % (stage, run["notes"]))

    def splash(windows):
        return [w for w in windows if any(c.id == wine.IDC_CONTINUE for c in w.controls)]

    for stage in ("splash", "escape"):
        main = guest.main_window(shots[stage])
        check(splash(shots[stage]) and splash(shots[stage])[0].visible,
              "the splash is shown (%s)" % stage)
        check(main is not None and not main.visible, "the main window is hidden (%s)" % stage)
    check(not splash(shots["verdict"]), "Enter on the splash continued")
    check(not run["notes"], "the driver had to help: %r" % run["notes"])
    main = guest.main_window(shots["details"])
    check(main.control(wine.IDC_DETAILS_LIST).visible and
          main.rect.bottom > main.control(wine.IDC_DETAILS_LABEL).rect.top,
          "Details >> shows the list")
    check(not main.control(wine.IDC_DETAILS).enabled, "Details >> is disabled once pressed")
    about = [w for w in shots["about"] if w.owner == main.hwnd and w.visible]
    check(len(about) == 1, "About opens one window owned by the main window")
    check(not guest.main_window(shots["about"]).enabled, "About is modal")
    check(guest.main_window(shots["about-closed"]).enabled and
          not [w for w in shots["about-closed"] if w.hwnd == about[0].hwnd],
          "OK closes About and gives the main window back")
    check_equal(run["exit"], 0, "exit code after Close")


def check_board(board, found, sim, work):
    check, check_equal = wine.check, wine.check_equal
    runs = found["runs"]
    check_equal([r["show"] for r in runs], RUNS[board], "the runs of the boot")
    report = guest.report(runs[0])
    expected, verdict = guest.simulate(sim, found, work)
    check_equal(report[:-2], expected, "the window's report against the simulator's")
    check_equal(verdict, "supported" if CONTROLLERS[board] else "not-supported", "the verdict")
    details = [wine.unescape(line[len("detail: "):]) for line in report
               if line.startswith("detail: ")]
    named = [line for line in details if line.startswith("Found ")]
    form = MSG[MSG_HC_VENDOR_DEVICE].replace("%4.4x", "%04x")
    wanted = [form % ("Intel Corporation", 0x8086, device) for device in CONTROLLERS[board]]
    check_equal(sorted(named), sorted(wanted), "the host controllers named by the vendor table")
    for line in named:
        description = details[details.index(line) + 1]
        check(description.startswith("\t") and len(description) > 1,
              "the controller's description follows its line: %r" % description)
    supported = MSG[MSG_INFO_HARDWARE_SUPPORTED] in wine.unescape(report[1])
    check_equal(supported, bool(CONTROLLERS[board]), "the hardware paragraph of a supported system")
    for run in runs:
        check_equal(guest.report(run)[-2], "shown: visible normal compact focus=close",
                    "how the window first appeared when started %s" % run["show"])
        check_equal(run["exit"], 0, "exit code (%s)" % run["show"])
    check_shell(runs[0])


def main(board):
    exe, sim, driver = (os.environ.get(name, "") for name in
                        ("QORVALIN_WIN32_EXE", "QORVALIN_SIM", "QORVALIN_QVDRIVE_I686"))
    reasons = [what for what, ok in (
        ("the i686 program %s has not been built" % exe, os.path.isfile(exe)),
        ("the simulator has not been built", os.path.isfile(sim)),
        ("the driver %s has not been built" % driver, os.path.isfile(driver)),
        ("qemu-system-i386 is not installed", subprocess.run(
            ["sh", "-c", "command -v qemu-system-i386"], stdout=subprocess.DEVNULL).returncode == 0))
        if not ok]
    if reasons:
        print("SKIP: " + "; ".join(reasons))
        return wine.SKIP
    livecd, why = live_cd(driver)
    if livecd is None:
        print("SKIP: " + why)
        return wine.SKIP
    work = os.path.join(os.environ["QORVALIN_REACTOS_DIR"], board)
    release = os.path.join(work, "dist")
    subprocess.run(["bash", os.path.join(ROOT, "tools", "dist.sh"), release, exe], check=True,
                   stdout=subprocess.DEVNULL)
    cd_image = [os.path.join(release, n) for n in os.listdir(release) if n.endswith(".iso")][0]
    try:
        try:
            lines, timings = guest.boot(livecd, cd_image, board, RUNS[board], work, BOOT_SECONDS)
        except guest.NoDesktop as e:
            # A boot that never reaches the desktop says nothing of the program: once more.
            print("booting again: %s" % e)
            lines, timings = guest.boot(livecd, cd_image, board, RUNS[board], work, BOOT_SECONDS)
        lost = host_link_lost(lines)
        if lost:
            # Nor does a boot whose serial link to the host lost its answers.
            print("booting again: %s" % "; ".join(lost))
            lines, timings = guest.boot(livecd, cd_image, board, RUNS[board], work, BOOT_SECONDS)
        print("desktop and driver after %.0f s, all runs done after %.0f s" %
              (timings["hello"], timings["done"]))
        check_board(board, guest.parse(lines), sim, work)
    except wine.Failure as e:
        print("FAIL %s: %s (records in %s)" % (board, e, work))
        return 1
    print("PASS %s" % board)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
