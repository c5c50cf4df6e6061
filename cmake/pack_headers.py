#!/usr/bin/env python3
"""Packs a linked program's headers into one 512-byte block, in place.

    pack_headers.py PROGRAM.exe

The linker puts the PE header behind a 64-byte DOS program that prints
"This program cannot be run in DOS mode". With five sections the headers
then take 576 bytes, one more 512-byte block of the file than they need.
Without the DOS program (the PE header right after the DOS header, where
e_lfanew says, as Windows reads it) they fit one block exactly, and every
section's data moves 512 bytes nearer the start of the file. Nothing the
loader maps changes: sections keep their addresses and contents.

A program whose headers would not fit one block fewer (more sections, the
64-bit optional header) is left as it is; so is one that holds file offsets
this does not move (a signature, a debug directory) or was packed already.
The same input always gives the same output.
"""
import struct
import sys

DOS_HEADER = 0x40


def pack(data):
    """The packed program, or None when it is to be left as it is."""
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    file_alignment, = struct.unpack_from("<I", data, optional + 36)
    size_of_headers, = struct.unpack_from("<I", data, optional + 60)
    directories = optional + (96 if magic == 0x10B else 112)
    count, = struct.unpack_from("<I", data, directories - 4)
    # The certificate table (4) and debug entries (6) hold file offsets.
    for index in (4, 6):
        if index < count and struct.unpack_from("<II", data, directories + 8 * index) != (0, 0):
            return None
    length = 24 + optional_size + 40 * sections
    needed = -(-(DOS_HEADER + length) // file_alignment) * file_alignment
    if needed >= size_of_headers:
        return None
    delta = size_of_headers - needed

    header = bytearray(data[:DOS_HEADER]) + data[pe:pe + length]
    struct.pack_into("<I", header, 0x3C, DOS_HEADER)
    at = DOS_HEADER + 24
    struct.pack_into("<I", header, at + 60, needed)
    table = at + optional_size
    for i in range(sections):
        entry = table + 40 * i
        raw_size, raw = struct.unpack_from("<II", header, entry + 16)
        if raw_size and raw:
            if raw < size_of_headers:
                return None
            struct.pack_into("<I", header, entry + 20, raw - delta)
    header += b"\0" * (needed - len(header))
    packed = bytearray(header + data[size_of_headers:])
    if struct.unpack_from("<I", data, optional + 64)[0] != 0:
        struct.pack_into("<I", packed, at + 64, checksum(packed, at + 64))
    return bytes(packed)


def checksum(data, field):
    """The PE image checksum, as the linker computes it: the file's 16-bit
    words added with the carry folded back in (the checksum field itself
    read as 0), plus the file's length."""
    padded = bytes(data[:field]) + b"\0\0\0\0" + bytes(data[field + 4:])
    if len(padded) % 2:
        padded += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16)) + len(data)


def main(path):
    with open(path, "rb") as f:
        data = f.read()
    packed = pack(data)
    if packed is not None:
        with open(path, "wb") as f:
            f.write(packed)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
