"""32-bit Wine for the i686 program's tests on this machine, from the test guest's root file
system: one consistent set of Debian packages (amd64 and i386 together), the one the guest
boots, rather than whatever 32-bit Wine the host's own package state allows. A command runs
there in a mount namespace of its own, chrooted, with the folders it shares with the host
(the clone, /tmp with X's sockets) bound in at the same paths."""

import os
import shutil
import subprocess

from harness import Unavailable, build, scripts

# Binds the shared folders and the kernel's, then runs the command in the root. Mount points
# made for the clone's path stay behind in the root as empty folders, which nothing reads.
ENTER = r"""root=$1; shift
while [ "$1" != -- ]; do
    mkdir -p "$root$1" && mount --rbind "$1" "$root$1" || exit 125
    shift
done
shift
mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
    mount --rbind /sys "$root/sys" || exit 125
exec chroot "$root" "$@"
"""


def host_runs_i686():
    """Whether this machine's kernel runs 32-bit programs (tools/vm/host32.sh, which also heeds
    QORVALIN_HOST_I686=no)."""
    return subprocess.run(["bash", str(scripts.HOST_RUNS_I686)],
                          stdin=subprocess.DEVNULL, capture_output=True).returncode == 0


def root():
    """The guest's root file system with 32-bit Wine, built when it is not (tools/vm/image.sh,
    which waits for a build already under way); Unavailable where it cannot be had."""
    if os.environ.get("QORVALIN_HOST_I686") == "no":
        raise Unavailable("QORVALIN_HOST_I686=no: this machine counts as one that runs no "
                          "32-bit programs")
    if not host_runs_i686():
        raise Unavailable("this machine does not run 32-bit programs")
    if os.geteuid() != 0 or not shutil.which("unshare"):
        raise Unavailable("32-bit Wine runs in the test guest's root file system, which needs "
                          "root and unshare")
    made = subprocess.run(["bash", str(scripts.GUEST_IMAGE)],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if made.returncode != 0:
        raise Unavailable("the test guest could not be built: %s" % made.stderr.strip()[-400:])
    found = os.path.join(made.stdout.strip(), "rootfs")
    if not os.access(os.path.join(found, "usr/lib/wine/wine"), os.X_OK):
        raise Unavailable("the test guest's root file system %s holds no 32-bit Wine" % found)
    return found


def command(root_folder, args):
    """args run in the root, with /tmp and the clone bound in."""
    return (["unshare", "--mount", "--propagation", "private", "--", "sh", "-c", ENTER, "enter",
             root_folder] + sorted({"/tmp", str(build.ROOT)}) + ["--"] + list(args))
