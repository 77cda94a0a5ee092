"""An X display of its own and Wine's environment on it, the one way both are made on the host
and in the Debian guest. It imports nothing of the harness: the guest's session starts Wine
with it before the folder that holds the rest is mounted."""

import os
import subprocess

# No Mono or Gecko installer dialogs while a prefix is made.
NO_INSTALLERS = "mscoree,mshtml="


def start_xvfb(number=None):
    """A new Xvfb on the display of that number, or on a free one, once it is ready (it writes
    the number to the pipe then): (its process, the display's number). OSError when it did
    not open the display asked for."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb"] + ([] if number is None else [":%d" % number])
        + ["-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as ready:
        said = ready.readline().strip()
    if not said.isdigit() or number not in (None, int(said)):
        xvfb.kill()
        raise OSError("Xvfb did not open the display asked for (it said %r)" % said)
    return xvfb, int(said)


def wine_environment(prefix, display, wineserver, wine_debug="-all", dll_overrides=(),
                     winearch=None):
    """The environment of a Wine program in prefix on the display, with the DLL overrides
    given besides the installers'."""
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG=wine_debug,
               DISPLAY=":%d" % display, WINESERVER=str(wineserver),
               WINEDLLOVERRIDES=";".join(filter(None, (NO_INSTALLERS,) + tuple(dll_overrides))))
    if winearch:
        env["WINEARCH"] = winearch
    return env
