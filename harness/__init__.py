"""What Qorvalin's Python tests and tools share, imported from the clone's root (pytest.ini puts
it on the path; tools run as python3 -m tools.NAME from there). Its modules:

build      where the native build put the programs and generated files (build/native/harness.json)
catalogue  the programs' messages and control numbers, by their symbols, from their sources
plugin     pytest's hooks: Unavailable is a skip, and a run of skips is CTest's skip status
golden     the golden scenarios and their report or refusal files
recordings the machines the guests answered, kept as golden scenarios, and their refresh
modes      the Windows releases Wine can be told to be, one row each
resfile    the dialog templates and version block of a program's resources
pe         Windows programs' images (PE files), read with pefile
win32      Win32's numbers: window, dialog and control styles, resource types, IDOK
display    an X display and Wine's environment, made alike on the host and in the guest
wine       Wine sessions: finding Wine, display, prefix and server, registry, Windows versions
rootfs     32-bit Wine from the test guest's root file system, for the host's i686 tests
window_reader the window reader in a session (winspy --serve), asked over a pipe
window     the windows as the window reader prints them: Window, Control, Rect
user       one test's run of the program: a user's eyes and hands (Run)
sim        what the program should show: qorvalin-sim on the machine Wine presents
observation what a run showed, observed alike in all three places, and its one comparison
hcpath     the host controller path: the stand-in driver and CfgMgr32, and what a run says
scripts    the tools' scripts that the harness and the tests start, each named once
boards     the emulated boards (boards.json), read by CMake too
qemu       QEMU from the host: accelerator, machine protocol (QMP), saved states
guest      the guests' one interface: saved states, the channel, results, retries, the cache
debian_guest  the Debian guest's host side (what runs inside it is in guest/debian/)
reactos_guest                               the ReactOS guest and its test driver's records
"""


class Failure(Exception):
    """Something the program or a guest did was not what a test or tool expected."""


class Unavailable(Exception):
    """This machine lacks what a test needs (a program not built, 32-bit Wine, a live CD): the
    test is skipped, with this reason."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))
