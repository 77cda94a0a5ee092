"""What Qorvalin.exe is made of: its sections, the vendor table and the resources' own bytes.
Run from the clone's root: python3 -m tools.bench.sizes --build LABEL DIR PREFIX ..."""

import argparse
import glob
import os
import subprocess
import sys

from harness import pe, win32

GOAL_ABOVE_RESOURCES = 48 * 1024

RESOURCE_TYPES = {win32.RT_CURSOR: "cursors", win32.RT_BITMAP: "bitmaps", win32.RT_ICON: "icons",
                  win32.RT_MENU: "menus", win32.RT_DIALOG: "dialogs", win32.RT_STRING: "strings",
                  win32.RT_GROUP_CURSOR: "cursors", win32.RT_GROUP_ICON: "icons",
                  win32.RT_VERSION: "version", win32.RT_MANIFEST: "manifest"}


def vendor_table(build_dir, tools_prefix):
    """The bytes of the generated vendor table's object file: the array and its names."""
    objects = glob.glob(os.path.join(build_dir, "**", "pci_vendors.cpp.obj"), recursive=True)
    if len(objects) != 1:
        return None
    out = subprocess.run([tools_prefix + "objdump", "-h", objects[0]], check=True,
                         stdout=subprocess.PIPE, universal_newlines=True).stdout
    total = sum(int(fields[2], 16) for fields in (line.split() for line in out.splitlines())
                if len(fields) >= 7 and fields[0].isdigit() and
                fields[1].startswith((".rdata", ".data")))
    out = subprocess.run([tools_prefix + "nm", "-S", "--size-sort", objects[0]], check=True,
                         stdout=subprocess.PIPE, universal_newlines=True).stdout
    array = next((int(fields[1], 16) for fields in (line.split() for line in out.splitlines())
                  if len(fields) == 4 and fields[3].lstrip("_") == "PciVendorTable"), None)
    return {"total": total, "array": array}


def kib(n):
    return "%d (%.1f KiB)" % (n, n / 1024.0)


def report(label, exe, build_dir, tools_prefix, goal):
    image = pe.read(exe)
    size = os.path.getsize(exe)
    sections = pe.sections(image)
    lines = ["### %s: %s" % (label, kib(size)), "",
             "| part | bytes in the file | bytes in memory |", "|---|---|---|",
             "| headers | %d | |" % pe.headers_size(image)]
    lines += ["| section %s | %d | %d |" % section for section in sections]
    lines.append("")
    text = sum(raw for name, raw, _ in sections if name == ".text")
    lines.append("- code (.text): %s" % kib(text))
    vendors = vendor_table(build_dir, tools_prefix)
    if vendors is None:
        lines.append("- vendor table: not measured (no single pci_vendors.cpp.obj under %s)"
                     % build_dir)
    else:
        lines.append("- vendor table (in .rdata): %s, of which the array %d and the names %d"
                     % (kib(vendors["total"]), vendors["array"] or 0,
                        vendors["total"] - (vendors["array"] or 0)))
    resources = pe.resources(image)
    own = sum(n for _, n in resources)
    by_kind = {}
    for kind, n in resources:
        name = RESOURCE_TYPES.get(kind, "other")
        by_kind[name] = by_kind.get(name, 0) + n
    rsrc = sum(raw for name, raw, _ in sections if name == ".rsrc")
    lines.append("- resources' own bytes: %s (%s); the .rsrc section with its directory and "
                 "padding: %d" % (kib(own), ", ".join("%s %d" % kv for kv in
                                                       sorted(by_kind.items())), rsrc))
    above = size - own
    line = "- the file above the resources' own bytes: %s" % kib(above)
    if goal:
        line += ", goal at most %s: %s" % (kib(GOAL_ABOVE_RESOURCES),
                                           "met" if above <= GOAL_ABOVE_RESOURCES else "NOT MET")
    lines.append(line)
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", nargs=3, action="append", required=True,
                        metavar=("LABEL", "BUILD_DIR", "TOOLS_PREFIX"),
                        help="a Windows build directory holding Qorvalin.exe, and the prefix "
                             "of its binutils (x86_64-w64-mingw32-)")
    parser.add_argument("--goal", action="append", default=[], metavar="LABEL",
                        help="a build that the 48 KiB allowance applies to")
    args = parser.parse_args()
    lines = []
    for label, build_dir, tools_prefix in args.build:
        exe = os.path.join(build_dir, "Qorvalin.exe")
        if not os.path.isfile(exe):
            lines += ["### %s: skipped, %s has not been built" % (label, exe), ""]
            continue
        lines += report(label, exe, build_dir, tools_prefix, label in args.goal) + [""]
    sys.stdout.write("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
