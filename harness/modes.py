"""The Windows releases Wine can be told to be, one row each: every runner and test reads them
from here."""

from typing import NamedTuple


class Mode(NamedTuple):
    family: str     # "9x" or "nt": which registry value the release keeps its version text in
    registry: str   # that text as the release's own installation keeps it ("9x": VersionNumber,
                    # "nt": CurrentVersion)
    major: int      # what GetVersionExA reports under Wine in the mode
    minor: int
    build: int
    csd: str

    def record(self):
        """The version record as a scenario gives it; the 9x platform keeps its major and minor
        version in the build word's high word."""
        nine_x = self.family == "9x"
        build = (self.major << 24 | self.minor << 16 | self.build) if nine_x else self.build
        return {"major": self.major, "minor": self.minor, "build": "0x%08X" % build,
                "platform": 1 if nine_x else 2, "csd": self.csd}


# By Wine's name of each Version setting.
MODES = {
    "win95": Mode("9x", "4.00.950", 4, 0, 950, ""),
    "win98": Mode("9x", "4.10.2222", 4, 10, 2222, " A "),
    "winme": Mode("9x", "4.90.3000", 4, 90, 3000, " "),
    "nt40": Mode("nt", "4.0", 4, 0, 1381, "Service Pack 6a"),
    "win2k": Mode("nt", "5.0", 5, 0, 2195, "Service Pack 4"),
    "winxp": Mode("nt", "5.1", 5, 1, 2600, "Service Pack 3"),
    "win7": Mode("nt", "6.1", 6, 1, 7601, "Service Pack 1"),
    "win10": Mode("nt", "6.3", 6, 2, 9200, ""),
}
