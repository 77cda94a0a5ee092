"""What Qorvalin.exe is made of: its sections, the vendor table and the resources' own bytes.
Run from the clone's root: python3 -m tools.bench.sizes I686_DIR X86_64_DIR"""

import argparse
import collections
import glob
import os
import subprocess

from harness import pe, win32

# The allowance above the resources, set for the build for Windows 95.
GOAL_ABOVE_RESOURCES = 48 * 1024
GOAL_BUILD = "i686"

RESOURCE_TYPES = {win32.RT_CURSOR: "cursors", win32.RT_BITMAP: "bitmaps", win32.RT_ICON: "icons",
                  win32.RT_MENU: "menus", win32.RT_DIALOG: "dialogs", win32.RT_STRING: "strings",
                  win32.RT_GROUP_CURSOR: "cursors", win32.RT_GROUP_ICON: "icons",
                  win32.RT_VERSION: "version", win32.RT_MANIFEST: "manifest"}


def vendor_table(build_dir, label):
    """The bytes of the generated vendor table's object file, its data with the names the array
    points to, and of the array; None without a single such object."""
    objects = glob.glob(os.path.join(build_dir, "**", "pci_vendors.cpp.obj"), recursive=True)
    if len(objects) != 1:
        return None

    def lines(tool, *args):
        out = subprocess.run([label + "-w64-mingw32-" + tool, *args, objects[0]], check=True,
                             stdout=subprocess.PIPE, universal_newlines=True).stdout
        return [line.split() for line in out.splitlines()]

    total = sum(int(f[2], 16) for f in lines("objdump", "-h")
                if len(f) >= 7 and f[0].isdigit() and f[1].startswith((".rdata", ".data")))
    array = next((int(f[1], 16) for f in lines("nm", "-S", "--size-sort")
                  if len(f) == 4 and f[3].lstrip("_") == "PciVendorTable"), 0)
    return total, array


def kib(n):
    return "%d (%.1f KiB)" % (n, n / 1024.0)


def report(label, exe, build_dir, goal):
    image = pe.read(exe)
    size = os.path.getsize(exe)
    sections = pe.sections(image)
    in_file = collections.Counter({name: raw for name, raw, _ in sections})
    resources = pe.resources(image)
    own = sum(n for _, n in resources)
    by_kind = collections.Counter()
    for kind, n in resources:
        by_kind[RESOURCE_TYPES.get(kind, "other")] += n
    vendors = vendor_table(build_dir, label)
    above = size - own
    return ["### %s: %s" % (label, kib(size)), "",
            "| part | bytes in the file | bytes in memory |", "|---|---|---|",
            "| headers | %d | |" % pe.headers_size(image)] + [
        "| section %s | %d | %d |" % section for section in sections] + [
        "",
        "- code (.text): %s" % kib(in_file[".text"]),
        "- vendor table: not measured (no single pci_vendors.cpp.obj under %s)" % build_dir
        if vendors is None else
        "- vendor table (in .rdata): %s, of which the array %d and the names %d"
        % (kib(vendors[0]), vendors[1], vendors[0] - vendors[1]),
        "- resources' own bytes: %s (%s); the .rsrc section with its directory and padding: %d"
        % (kib(own), ", ".join("%s %d" % kv for kv in sorted(by_kind.items())),
           in_file[".rsrc"]),
        "- the file above the resources' own bytes: %s" % kib(above) + (
            ", goal at most %s: %s" % (kib(GOAL_ABOVE_RESOURCES),
                                       "met" if above <= GOAL_ABOVE_RESOURCES else "NOT MET")
            if goal else ""),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folders", nargs=2, metavar="DIR",
                        help="the i686 and the x86_64 builds' folders, empty for one that failed")
    for label, folder in zip((GOAL_BUILD, "x86_64"), parser.parse_args().folders):
        exe = os.path.join(folder, "Qorvalin.exe")
        if not folder:
            print("The %s program was not built here: its size is skipped." % label)
        elif not os.path.isfile(exe):
            print("### %s: skipped, %s has not been built\n" % (label, exe))
        else:
            print("\n".join(report(label, exe, folder, label == GOAL_BUILD)) + "\n")


if __name__ == "__main__":
    main()
