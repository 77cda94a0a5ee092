"""Windows programs' images (PE files) read with pefile: what the tests and the size report ask
of them, each read in this one place."""

import pefile

DIRECTORY = pefile.DIRECTORY_ENTRY
NO_SEH = pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_NO_SEH"]
# The Load Configuration directory up to SEHandlerCount, as Windows XP reads it.
SE_HANDLER_COUNT_END = 0x48


def read(path):
    """The image at path, its imports, TLS, Load Configuration and resources parsed."""
    return pefile.PE(str(path))


def is_32_bit(pe):
    return pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE


def directory(pe, name):
    """The data directory entry name ("IMAGE_DIRECTORY_ENTRY_TLS"): its address and size."""
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIRECTORY[name]]


def versions(pe):
    """The lowest system versions the header names, as (major, minor) by field."""
    h = pe.OPTIONAL_HEADER
    return {"SubsystemVersion": (h.MajorSubsystemVersion, h.MinorSubsystemVersion),
            "OperatingSystemVersion": (h.MajorOperatingSystemVersion,
                                       h.MinorOperatingSystemVersion)}


def imports(pe):
    """(DLL in capitals, name) of every import; name is None for an import by ordinal."""
    return [(entry.dll.decode("ascii").upper(), None if i.name is None else i.name.decode("ascii"))
            for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for i in entry.imports]


class OutsideFile(Exception):
    """A directory of the image lies outside its file."""


def safe_seh_table(pe):
    """How many handlers the Load Configuration directory's SafeSEH table lists, or None for no
    table (no directory, one too short to hold the table, or a table at 0 of none)."""
    entry = directory(pe, "IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG")
    if entry.Size == 0:
        return None
    config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    if config is None:
        raise OutsideFile("the Load Configuration directory lies outside the file")
    config = config.struct
    if min(config.Size, entry.Size, len(pe.__data__) - config.get_file_offset()) < \
            SE_HANDLER_COUNT_END or (config.SEHandlerTable, config.SEHandlerCount) == (0, 0):
        return None
    return config.SEHandlerCount


def sections(pe):
    """(name, bytes in the file, bytes in memory) of every section, in the file's order."""
    return [(s.Name.rstrip(b"\0").decode("ascii"), s.SizeOfRawData, s.Misc_VirtualSize)
            for s in pe.sections]


def headers_size(pe):
    """The bytes before the first section's data."""
    return min((s.PointerToRawData for s in pe.sections if s.SizeOfRawData),
               default=len(pe.__data__))


def resource_entries(pe):
    """(type, name, language, entry) of every resource, a type or name given by a string as that
    string; entry.data.struct gives where its bytes are and how many."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    key = lambda e: str(e.name) if e.id is None else e.id
    return [(key(kind), key(name), leaf.id, leaf) for kind in (root.entries if root else [])
            for name in kind.directory.entries for leaf in name.directory.entries]


def resource_data(pe, entry):
    """The bytes a program gets from LoadResource."""
    return pe.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size)


def resources(pe):
    """(type, size) of every resource: the bytes a program gets from LoadResource; the type is
    -1 for a type named by a string."""
    return [(-1 if isinstance(kind, str) else kind, entry.data.struct.Size)
            for kind, _, _, entry in resource_entries(pe)]


def point_load_config(path, address, size):
    """Makes the image at path name the Load Configuration directory at the virtual address
    address (the linker's symbol for it), size bytes long."""
    pe = pefile.PE(str(path), fast_load=True)
    entry = directory(pe, "IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG")
    entry.VirtualAddress = address - pe.OPTIONAL_HEADER.ImageBase
    entry.Size = size
    data = pe.write()
    pe.close()
    with open(path, "wb") as f:
        f.write(data)
