"""Where the native build put what the Python tests and tools run. CMake writes harness.json into
the build folder (build/native, or $QORVALIN_BUILD), naming each file: the simulator, both
Windows builds, every test-only Windows program by its target, the catalogue."""

import json
import os
from pathlib import Path

from harness import Unavailable

ROOT = Path(__file__).resolve().parent.parent
FOLDER = Path(os.environ.get("QORVALIN_BUILD") or ROOT / "build" / "native")


def files():
    """Every name the build gave, with its path (which need not exist yet)."""
    try:
        with open(FOLDER / "harness.json") as f:
            return {name: Path(path) for name, path in json.load(f).items()}
    except FileNotFoundError:
        raise Unavailable("%s is not configured (tools/test.sh builds it)" % FOLDER) from None


def path(name):
    """The built file that the build calls name; Unavailable when it was not built."""
    known = files()
    if name not in known:
        raise Unavailable("the build in %s builds no %s (a compiler missing?)" % (FOLDER, name))
    if not known[name].is_file():
        raise Unavailable("%s has not been built (%s)" % (known[name], name))
    return known[name]
