"""Reads a Windows executable (PE file) as Windows would load it: machine, subsystem
and its version, symbols left in it, imported functions, resources, and the version
block. Used by the tests that check the built programs from Linux."""

import struct

MACHINES = {0x14C: "i386", 0x8664: "amd64"}
RT_BITMAP, RT_VERSION = 2, 16


class PeError(Exception):
    pass


def _align4(offset):
    return (offset + 3) & ~3


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        (machine, sections, _, self.symbol_table, self.symbol_count, optional_size,
         _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise PeError(f"unknown optional header {magic:#x}")
        self.wide = magic == 0x20B
        self.subsystem_version = struct.unpack_from("<HH", data, optional + 48)
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (112 if self.wide else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            virtual_size, address, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, address, max(virtual_size, raw_size), raw_at))

    @classmethod
    def read(cls, path):
        with open(path, "rb") as file:
            return cls(file.read())

    def offset(self, rva):
        for _, address, size, raw_at in self.sections:
            if address <= rva < address + size:
                return raw_at + rva - address
        raise PeError(f"address {rva:#x} is in no section")

    def _string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        """[(dll, function)] in the order of the import table; by-ordinal imports as '#n'."""
        rva, size = self.directories[1]
        found = []
        if size == 0:
            return found
        thunk_size, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                return found
            dll = self._string(name)
            thunk = self.offset(lookup or first)
            while True:
                entry = int.from_bytes(self.data[thunk:thunk + thunk_size], "little")
                if entry == 0:
                    break
                found.append((dll, f"#{entry & 0xFFFF}" if entry & ordinal_flag else self._string(entry + 2)))
                thunk += thunk_size
            at += 20

    def resources(self):
        """{(type, name, language): bytes}; a type or name is a number or an upper-case text."""
        rva, size = self.directories[2]
        found = {}
        if size == 0:
            return found
        base = self.offset(rva)

        def label(value):
            if not value & 0x80000000:
                return value
            at = base + (value & 0x7FFFFFFF)
            length = struct.unpack_from("<H", self.data, at)[0]
            return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")

        def walk(directory, path):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + (label(key),))
                else:
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                    at = self.offset(data_rva)
                    found[path + (label(key),)] = self.data[at:at + data_size]
        walk(0, ())
        return found

    def version_block(self):
        """The first version resource, as a VersionBlock."""
        blocks = [data for (kind, _, _), data in sorted(self.resources().items(), key=str) if kind == RT_VERSION]
        if not blocks:
            raise PeError("no version resource")
        return VersionBlock(blocks[0])


FIXED_FIELDS = ("dwSignature", "dwStrucVersion", "dwFileVersionMS", "dwFileVersionLS", "dwProductVersionMS",
                "dwProductVersionLS", "dwFileFlagsMask", "dwFileFlags", "dwFileOS", "dwFileType", "dwFileSubtype",
                "dwFileDateMS", "dwFileDateLS")


class VersionBlock:
    """VS_VERSIONINFO: fixed (field name -> value), strings (table key -> [(key, text)]
    in their order) and translations [(language, code page)]."""

    def __init__(self, data):
        self.data = data
        key, value, children = self._node(0)
        if key != "VS_VERSION_INFO" or len(value) != 52:
            raise PeError(f"version block starts with {key!r} and a value of {len(value)} bytes")
        self.fixed = dict(zip(FIXED_FIELDS, struct.unpack("<13I", value)))
        self.strings, self.translations = {}, []
        for child_key, _, grandchildren in children:
            for table, table_value, entries in grandchildren:
                if child_key == "StringFileInfo":
                    self.strings[table] = [(name, text.decode("utf-16-le").rstrip("\0")) for name, text, _ in entries]
                elif child_key == "VarFileInfo" and table == "Translation":
                    self.translations = [struct.unpack_from("<HH", table_value, i)
                                         for i in range(0, len(table_value), 4)]

    def _node(self, at):
        """(key, value bytes, [child nodes]) of the node at offset at."""
        length, value_length, kind = struct.unpack_from("<HHH", self.data, at)
        end = at + length
        if length < 6 or end > len(self.data):
            raise PeError(f"version block node at {at} of length {length}")
        key_end = at + 6
        while key_end + 2 <= end and self.data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        value_at = _align4(key_end + 2)
        value = self.data[value_at:value_at + (value_length * 2 if kind == 1 else value_length)]
        children, child = [], _align4(value_at + len(value))
        while child < end:
            children.append(self._node(child))
            child = _align4(child + struct.unpack_from("<H", self.data, child)[0])
        return self.data[at + 6:key_end].decode("utf-16-le"), value, children
