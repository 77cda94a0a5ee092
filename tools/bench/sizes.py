"""What Qorvalin.exe is made of: its sections, the vendor table and the resources' own bytes."""

import argparse
import glob
import os
import struct
import subprocess
import sys

GOAL_ABOVE_RESOURCES = 48 * 1024

RESOURCE_TYPES = {1: "cursors", 2: "bitmaps", 3: "icons", 4: "menus", 5: "dialogs",
                  6: "strings", 12: "cursors", 14: "icons", 16: "version", 24: "manifest"}


def read_pe(path):
    """The section table and the resource data entries of a PE file."""
    with open(path, "rb") as f:
        data = f.read()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        raise ValueError("%s is not a PE file" % path)
    sections_count, = struct.unpack_from("<H", data, header + 6)
    optional_size, = struct.unpack_from("<H", data, header + 20)
    optional = header + 24
    magic, = struct.unpack_from("<H", data, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    sections = []
    table = optional + optional_size
    for i in range(sections_count):
        name, virtual_size, rva, raw_size, raw_offset = struct.unpack_from(
            "<8sIIII", data, table + 40 * i)
        sections.append({"name": name.rstrip(b"\0").decode("ascii"),
                         "virtual": virtual_size, "rva": rva, "raw": raw_size,
                         "offset": raw_offset})
    headers = min((s["offset"] for s in sections if s["raw"]), default=len(data))
    return {"size": len(data), "sections": sections, "headers": headers,
            "resources": read_resources(data, sections, resource_rva) if resource_size else []}


def read_resources(data, sections, root_rva):
    """(type, size) of every resource: the bytes a program gets from LoadResource."""
    def file_offset(rva):
        for s in sections:
            if s["rva"] <= rva < s["rva"] + max(s["raw"], s["virtual"]):
                return s["offset"] + rva - s["rva"]
        raise ValueError("address 0x%x lies in no section" % rva)

    root = file_offset(root_rva)
    found = []

    def walk(offset, depth, kind):
        named, numbered = struct.unpack_from("<HH", data, offset + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", data, offset + 16 + 8 * i)
            if depth == 0:
                kind = ident if not ident & 0x80000000 else -1
            if target & 0x80000000:
                walk(root + (target & 0x7FFFFFFF), depth + 1, kind)
            else:
                _, size = struct.unpack_from("<II", data, root + target)
                found.append((kind, size))

    walk(root, 0, None)
    return found


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
    pe = read_pe(exe)
    lines = ["### %s: %s" % (label, kib(pe["size"])), "",
             "| part | bytes in the file | bytes in memory |", "|---|---|---|",
             "| headers | %d | |" % pe["headers"]]
    for s in pe["sections"]:
        lines.append("| section %s | %d | %d |" % (s["name"], s["raw"], s["virtual"]))
    lines.append("")
    text = sum(s["raw"] for s in pe["sections"] if s["name"] == ".text")
    lines.append("- code (.text): %s" % kib(text))
    vendors = vendor_table(build_dir, tools_prefix)
    if vendors is None:
        lines.append("- vendor table: not measured (no single pci_vendors.cpp.obj under %s)"
                     % build_dir)
    else:
        lines.append("- vendor table (in .rdata): %s, of which the array %d and the names %d"
                     % (kib(vendors["total"]), vendors["array"] or 0,
                        vendors["total"] - (vendors["array"] or 0)))
    own = sum(size for _, size in pe["resources"])
    by_kind = {}
    for kind, size in pe["resources"]:
        name = RESOURCE_TYPES.get(kind, "other")
        by_kind[name] = by_kind.get(name, 0) + size
    rsrc = sum(s["raw"] for s in pe["sections"] if s["name"] == ".rsrc")
    lines.append("- resources' own bytes: %s (%s); the .rsrc section with its directory and "
                 "padding: %d" % (kib(own), ", ".join("%s %d" % kv for kv in
                                                       sorted(by_kind.items())), rsrc))
    above = pe["size"] - own
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
