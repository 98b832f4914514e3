"""A reader of the parts of a PE file (PE32 and PE32+) that the checks need:
the headers, the import table, the base relocations and the resources,
with the version resource decoded. Standard library only.
"""

import struct

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

# Data directory entries.
DIR_IMPORT = 1
DIR_RESOURCE = 2
DIR_BASERELOC = 5
DIR_DELAY_IMPORT = 13


class FormatError(Exception):
    pass


class Section:
    def __init__(self, name, virtual_address, virtual_size, raw_offset, raw_size):
        self.name = name
        self.virtual_address = virtual_address
        self.virtual_size = virtual_size
        self.raw_offset = raw_offset
        self.raw_size = raw_size


class Image:
    """A PE file held in memory."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise FormatError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise FormatError("no PE signature")
        coff = pe + 4
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        opt = coff + 20
        self.magic = self.u16(opt)
        if self.magic == 0x10B:
            self.pe32_plus = False
            directories_at = opt + 96
        elif self.magic == 0x20B:
            self.pe32_plus = True
            directories_at = opt + 112
        else:
            raise FormatError(f"unknown optional header magic {self.magic:#x}")
        self.os_version = (self.u16(opt + 40), self.u16(opt + 42))
        self.subsystem_version = (self.u16(opt + 48), self.u16(opt + 50))
        self.subsystem = self.u16(opt + 68)
        self.dll_characteristics = self.u16(opt + 70)
        count = self.u32(directories_at - 4)
        self.directories = [struct.unpack_from("<II", data, directories_at + 8 * i)
                            for i in range(min(count, 16))]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            at = table + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            vsize, vaddr, rsize, roffset = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append(Section(name, vaddr, vsize, roffset, rsize))

    @classmethod
    def load(cls, path):
        with open(path, "rb") as f:
            return cls(f.read())

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for s in self.sections:
            if s.virtual_address <= rva < s.virtual_address + max(s.virtual_size, s.raw_size):
                if rva - s.virtual_address >= s.raw_size:
                    raise FormatError(f"RVA {rva:#x} lies in no file data")
                return s.raw_offset + rva - s.virtual_address
        raise FormatError(f"RVA {rva:#x} lies in no section")

    def c_string(self, rva):
        at = self.offset(rva)
        end = self.data.index(b"\0", at)
        return self.data[at:end].decode("latin-1")

    # Imports.

    def imports(self):
        """[(dll, [function names, or "#ordinal"])] in the table's order."""
        rva, size = self.directory(DIR_IMPORT)
        result = []
        if rva == 0 or size == 0:
            return result
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and thunks == 0:
                break
            result.append((self.c_string(name), self.thunk_names(lookup or thunks)))
            at += 20
        return result

    def thunk_names(self, rva):
        width = 8 if self.pe32_plus else 4
        ordinal_flag = 1 << (width * 8 - 1)
        names = []
        at = self.offset(rva)
        while True:
            entry = struct.unpack_from("<Q" if self.pe32_plus else "<I", self.data, at)[0]
            if entry == 0:
                return names
            if entry & ordinal_flag:
                names.append(f"#{entry & 0xFFFF}")
            else:
                names.append(self.c_string((entry & 0x7FFFFFFF) + 2))
            at += width

    def delay_import_dlls(self):
        rva, size = self.directory(DIR_DELAY_IMPORT)
        dlls = []
        if rva == 0 or size == 0:
            return dlls
        at = self.offset(rva)
        while True:
            attributes, name = struct.unpack_from("<II", self.data, at)
            if name == 0:
                return dlls
            # Old-style descriptors hold addresses rather than RVAs.
            dlls.append(self.c_string(name if attributes & 1 else name - self.image_base()))
            at += 32

    def image_base(self):
        pe = self.u32(0x3C)
        opt = pe + 24
        if self.pe32_plus:
            return struct.unpack_from("<Q", self.data, opt + 24)[0]
        return self.u32(opt + 28)

    # Base relocations.

    def relocation_count(self):
        """Relocations in the base relocation directory; FormatError if its
        blocks don't exactly fill it."""
        rva, size = self.directory(DIR_BASERELOC)
        if rva == 0 or size == 0:
            return 0
        at = self.offset(rva)
        end = at + size
        count = 0
        while at < end:
            _, block = struct.unpack_from("<II", self.data, at)
            if block < 8 or at + block > end:
                raise FormatError("malformed base relocation block")
            for i in range((block - 8) // 2):
                if self.u16(at + 8 + 2 * i) >> 12 != 0:  # type 0 pads a block
                    count += 1
            at += block
        return count

    # Resources.

    def resources(self):
        """{(type, name, language): bytes}; a name is an int or a str."""
        rva, size = self.directory(DIR_RESOURCE)
        found = {}
        if rva == 0 or size == 0:
            return found
        root = self.offset(rva)
        for type_id, type_dir in self.resource_entries(root, root):
            for name_id, name_dir in self.resource_entries(root, type_dir):
                for lang_id, leaf in self.resource_entries(root, name_dir, leaf=True):
                    data_rva, data_size = struct.unpack_from("<II", self.data, root + leaf)
                    at = self.offset(data_rva)
                    found[(type_id, name_id, lang_id)] = self.data[at:at + data_size]
        return found

    def resource_entries(self, root, directory, leaf=False):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            if ident & 0x80000000:
                at = root + (ident & 0x7FFFFFFF)
                length = self.u16(at)
                ident = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            is_directory = bool(target & 0x80000000)
            if is_directory == leaf:
                raise FormatError("resource tree deeper or shallower than three levels")
            yield ident, (root + (target & 0x7FFFFFFF)) if is_directory else (target & 0x7FFFFFFF)


def resources_of_type(resources, type_id):
    return {(name, lang): data for (t, name, lang), data in resources.items() if t == type_id}


class VersionInfo:
    def __init__(self):
        self.file_version = None     # (a, b, c, d) from VS_FIXEDFILEINFO
        self.product_version = None
        self.file_type = None
        self.strings = {}            # {"041904E3": {"FileVersion": "1.5", ...}}
        self.translations = []       # [(language, code page)]


def parse_version(block):
    """Decodes a VS_VERSIONINFO resource."""
    info = VersionInfo()
    length, value_length, _ = struct.unpack_from("<HHH", block, 0)
    key, at = _version_key(block, 6)
    if key != "VS_VERSION_INFO":
        raise FormatError(f"version block named {key!r}")
    if value_length:
        signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", block, at)
        if signature != 0xFEEF04BD:
            raise FormatError("no VS_FIXEDFILEINFO signature")
        info.file_version = (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF)
        info.product_version = (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
        info.file_type = struct.unpack_from("<I", block, at + 36)[0]
    at = _align(at + value_length)
    for child_key, child, child_end in _children(block, at, length):
        if child_key == "StringFileInfo":
            for table_key, table, table_end in _children(block, child, child_end):
                strings = info.strings.setdefault(table_key.upper(), {})
                for name, value_at, value_end in _children(block, table, table_end, values=True):
                    strings[name] = block[value_at:value_end].decode("utf-16-le").rstrip("\0")
        elif child_key == "VarFileInfo":
            for var_key, value_at, value_end in _children(block, child, child_end, values=True):
                if var_key == "Translation":
                    raw = block[value_at:value_end]
                    info.translations += [struct.unpack_from("<HH", raw, i)
                                          for i in range(0, len(raw) - 3, 4)]
    return info


def _align(offset):
    return (offset + 3) & ~3


def _version_key(block, at):
    end = at
    while block[end:end + 2] != b"\0\0":
        end += 2
    return block[at:end].decode("utf-16-le"), _align(end + 2)


def _children(block, at, end, values=False):
    """The nodes from at to end: (key, where the children or the value start,
    where the node ends); for values=True the value's span."""
    at = _align(at)
    while at < end:
        length, value_length, is_text = struct.unpack_from("<HHH", block, at)
        if length == 0:
            break
        key, inner = _version_key(block, at + 6)
        node_end = at + length
        if values:
            size = value_length * 2 if is_text else value_length
            yield key, inner, min(inner + size, node_end)
        else:
            yield key, inner, node_end
        at = _align(node_end)


def group_icon_entries(data):
    """[(width, height, bit count, icon ID)] of an RT_GROUP_ICON resource."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1:
        raise FormatError("group icon of the wrong kind")
    entries = []
    for i in range(count):
        width, height, _, _, _, bits, _, ident = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        entries.append((width or 256, height or 256, bits, ident))
    return entries
