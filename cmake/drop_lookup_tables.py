#!/usr/bin/env python3
"""Cuts a linked program's import lookup tables off the end of its section,
in place.

    drop_lookup_tables.py PROGRAM.exe

Each DLL's import descriptor names two tables of the same entries: the
import lookup table (OriginalFirstThunk) and the import address table
(FirstThunk), whose entries the loader overwrites with the functions'
addresses. Until a program is bound to its DLLs, the two hold the same
names ("The contents of this table are identical to the contents of the
import lookup table until the image is bound", Microsoft's PE format,
https://learn.microsoft.com/windows/win32/debug/pe-format#import-directory-table);
the lookup table exists for binding, which overwrites the address table
beforehand (Raymond Chen, "Why does the Windows Portable Executable (PE)
format have separate tables for import names and import addresses?,
part 1", https://devblogs.microsoft.com/oldnewthing/20231129-00/?p=109077).
A descriptor whose OriginalFirstThunk is 0, the layout older Windows linkers
wrote, has the loader read the names from the address table itself, as
Windows and Wine both do. This program is never bound.

cmake/merge_imports.py puts the lookup tables last in .rdata. This sets
every OriginalFirstThunk to 0 and ends the section where the tables begin;
the sections behind it move nearer the start of the file by the 512-byte
blocks that saves (nothing the loader maps moves), and SizeOfInitializedData
and the image checksum are corrected. The PE check reads the imports from
the address tables then.

A program is left as it is when its lookup tables are not one block that
ends its section, when one of them differs from its address table (a bound
program), when a relocation or another data directory reaches into them,
when it holds file offsets this does not move (a signature, a debug
directory, a symbol table), or when it has no lookup tables (cut already).
The same input always gives the same output.
"""
import struct
import sys

from pack_headers import checksum


def cut(data):
    """The program without its lookup tables, or None when it is to be left
    as it is."""
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    sections, symbols, optional_size = struct.unpack_from("<H4xI4xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    entry, entry_format = (4, "<I") if magic == 0x10B else (8, "<Q")
    file_alignment, = struct.unpack_from("<I", data, optional + 36)
    directories = optional + (96 if magic == 0x10B else 112)
    count, = struct.unpack_from("<I", data, directories - 4)
    directory = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
    # The certificate table (4) and debug entries (6) hold file offsets.
    if symbols or any(index < len(directory) and directory[index] != (0, 0) for index in (4, 6)):
        return None

    table = optional + optional_size
    headers = []  # (header offset, virtual size, address, raw size, raw offset, flags)
    for i in range(sections):
        at = table + 40 * i
        headers.append((at,) + struct.unpack_from("<IIII12xI", data, at + 8))

    def offset(rva, length=1):
        for _, vsize, vaddr, rsize, raw, _ in headers:
            if vaddr <= rva and rva + length <= vaddr + min(vsize, rsize):
                return raw + rva - vaddr
        return None

    def entries(rva):
        """A table's entries up to and with its terminating zero."""
        found = []
        while True:
            at = offset(rva + entry * len(found), entry)
            if at is None:
                return None
            found.append(struct.unpack_from(entry_format, data, at)[0])
            if found[-1] == 0:
                return found

    if len(directory) < 2 or directory[1][0] == 0:
        return None
    descriptors, at = [], offset(directory[1][0], 20)
    while at is not None:
        lookup, _, _, name, address = struct.unpack_from("<5I", data, at)
        if name == 0 and address == 0:
            break
        descriptors.append((at, lookup, address))
        at = offset(directory[1][0] + 20 * len(descriptors), 20)
    if at is None or not descriptors or any(lookup == 0 for _, lookup, _ in descriptors):
        return None
    ranges = []
    for _, lookup, address in descriptors:
        names = entries(lookup)
        if names is None or names != entries(address):
            return None
        ranges.append((lookup, lookup + entry * len(names)))
    ranges.sort()
    if any(a[1] != b[0] for a, b in zip(ranges, ranges[1:])):
        return None
    start, end = ranges[0][0], ranges[-1][1]

    # Nothing else may point into the tables: no other data directory, no
    # relocated pointer.
    for index, (rva, size) in enumerate(directory):
        if index != 1 and size and rva < end and start < rva + size:
            return None
    if len(directory) > 5 and directory[5][1]:
        block = directory[5][0]
        while block < directory[5][0] + directory[5][1]:
            at = offset(block, 8)
            if at is None:
                return None
            page, size = struct.unpack_from("<II", data, at)
            if size < 8:
                return None
            for i in range(8, size, 2):
                kind_and_offset, = struct.unpack_from("<H", data, at + i)
                rva = page + (kind_and_offset & 0xFFF)
                if kind_and_offset >> 12 and start - entry < rva < end:
                    return None
            block += size

    owner = [h for h in headers if h[2] <= start and end == h[2] + h[1] and h[1] <= h[3]]
    if len(owner) != 1:
        return None
    header_at, vsize, vaddr, rsize, raw, flags = owner[0]
    kept = start - vaddr
    kept_raw = -(-kept // file_alignment) * file_alignment
    delta = rsize - kept_raw
    for other in headers:
        if other is not owner[0] and other[3] and raw < other[4] + other[3] and other[4] < raw + rsize:
            return None

    out = bytearray(data)
    for at, _, _ in descriptors:
        struct.pack_into("<I", out, at, 0)
    out[raw + kept:raw + rsize] = bytes(rsize - kept)
    struct.pack_into("<I", out, header_at + 8, kept)
    struct.pack_into("<I", out, header_at + 16, kept_raw)
    for other in headers:
        if other[3] and other[4] >= raw + rsize:
            struct.pack_into("<I", out, other[0] + 20, other[4] - delta)
    if flags & 0x40:  # initialized data
        initialized, = struct.unpack_from("<I", out, optional + 8)
        struct.pack_into("<I", out, optional + 8, initialized - delta)
    del out[raw + kept_raw:raw + rsize]
    if struct.unpack_from("<I", out, optional + 64)[0] != 0:
        struct.pack_into("<I", out, optional + 64, checksum(out, optional + 64))
    return bytes(out)


def main(path):
    with open(path, "rb") as f:
        data = f.read()
    result = cut(data)
    if result is not None:
        with open(path, "wb") as f:
            f.write(result)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
