#!/usr/bin/env python3
"""What a program file spends its bytes on, as scripts/bench writes it into
the measurements: each section with the bytes it uses of those it takes in
the file, and the functions the program imports from each library.

    pe_sizes.py PROGRAM.exe

Prints two lines, "WHAT<tab>FIGURE". Exit code: 0 read, 2 a wrong call.
"""
import struct
import sys


def sizes(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    wide = struct.unpack_from("<H", data, optional)[0] == 0x20B
    directories = optional + (112 if wide else 96)
    imports_rva = struct.unpack_from("<I", data, directories + 8)[0]
    sections = []
    for i in range(count):
        at = optional + optional_size + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("ascii")
        vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, at + 8)
        sections.append((name, vsize, vaddr, rsize, raw))

    def offset(rva):
        for _, vsize, vaddr, rsize, raw in sections:
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return raw + rva - vaddr
        raise ValueError("rva %x outside the sections" % rva)

    libraries, at = [], offset(imports_rva)
    while True:
        lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", data, at)
        if name_rva == 0:
            break
        name = data[offset(name_rva):data.index(b"\0", offset(name_rva))].decode("ascii")
        entry, functions = offset(lookup or thunks), 0
        while struct.unpack_from("<Q" if wide else "<I", data, entry)[0]:
            functions += 1
            entry += 8 if wide else 4
        libraries.append((name.lower(), functions))
        at += 20
    placed = "; ".join("%s %s of %s" % (name, "{:,}".format(min(vsize, rsize)), "{:,}".format(rsize))
                       for name, vsize, _, rsize, _ in sections if rsize)
    imported = "%d functions from %d libraries (%s)" % (
        sum(n for _, n in libraries), len(libraries), ", ".join("%s %d" % lib for lib in libraries))
    return [("sections: bytes used of those in the file", placed), ("imports", imported)]


def main(argv):
    if len(argv) != 2 or argv[1].startswith("-"):
        sys.stderr.write(__doc__)
        return 0 if argv[1:] in (["-h"], ["--help"]) else 2
    for what, figure in sizes(open(argv[1], "rb").read()):
        print("%s\t%s" % (what, figure))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
