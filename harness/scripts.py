"""The tools' scripts that the harness and the tests start, each named once."""

from harness import build

TOOLS = build.ROOT / "tools"
RUN = TOOLS / "run.sh"                          # the README's first command
RELEASE_FILES = TOOLS / "dist.sh"               # the floppy, CD and zip of the release
GUEST_IMAGE = TOOLS / "vm" / "image.sh"         # the Debian guest, built once a machine
HOST_RUNS_I686 = TOOLS / "vm" / "host32.sh"     # whether this machine runs 32-bit programs
PORT_ACCESS = TOOLS / "vm" / "ports.c"          # the guest's wrapper that grants the ports
LIVECD = TOOLS / "reactos" / "livecd.sh"        # a ReactOS live CD built from a tree
READY_ISO = TOOLS / "reactos" / "ready_iso.sh"  # a ReactOS live CD made ready here
