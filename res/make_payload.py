#!/usr/bin/env python3
"""Writes payload archives, byte for byte the same on every run, for
make_module.py (a module's files or its stand-in text) and the bench:

    make_payload.py --bench OUT.zip  64 files of about 1 MB each, for timing
                                     (and OUT.crc, its checksum resource)

Stand-in text has the names and sizes of a module's real files and is made by
a PRNG of our own, so that an archive does not depend on Python's random
module and compresses roughly as text does.

The archive is written by hand rather than with zipfile, because the product's
archives carry general-purpose flags 0x8002 in the local headers (bit 1, best
compression, and the reserved bit 15) but 0x0002 in the central directory,
which zipfile cannot express.
"""

import os
import struct
import sys
import zlib

BENCH_FILES = 64
BENCH_FILE_SIZE = 1 << 20

def dos_date_time(year, month, day, hour, minute):
    """The (date, time) pair a ZIP entry stores, in local time."""
    return ((year - 1980) << 9) | (month << 5) | day, (hour << 11) | (minute << 5)


# Every entry carries this DOS time unless the module's description sets
# another: 2005-03-01 10:00:00 local time. An installed copy written later
# counts as newer than the payload's.
DEFAULT_TIME = dos_date_time(2005, 3, 1, 10, 0)

LOCAL_FLAGS = 0x8002
CENTRAL_FLAGS = 0x0002
VERSION_NEEDED = 20       # 2.0: deflate
VERSION_MADE_BY = 20      # MS-DOS host, 2.0
ATTRIBUTE_ARCHIVE = 0x20  # DOS attributes in the external field


class Prng:
    """xorshift64*: small, fast enough, and the same everywhere."""

    def __init__(self, seed):
        self.state = (seed * 0x9E3779B97F4A7C15 + 1) & 0xFFFFFFFFFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= x >> 12
        x ^= (x << 25) & 0xFFFFFFFFFFFFFFFF
        x ^= x >> 27
        self.state = x
        return (x * 0x2545F4914F6CDD1D) & 0xFFFFFFFFFFFFFFFF

    def below(self, bound):
        return (self.next() >> 32) % bound


SYLLABLES = [
    "an", "be", "ch", "de", "ei", "en", "er", "ge", "ha", "ie", "in", "ka",
    "la", "li", "ma", "ne", "or", "ra", "sch", "st", "te", "un", "ver", "zu",
    "ung", "keit", "lich", "ra", "mo", "to", "ba", "ru", "ski", "no", "wa",
]


def make_vocabulary(prng, count):
    words = []
    for _ in range(count):
        parts = 1 + prng.below(4)
        words.append("".join(SYLLABLES[prng.below(len(SYLLABLES))] for _ in range(parts)))
    return words


def make_lines(prng, words, count):
    """Dictionary-like lines: a headword, a tab, a few glosses, CR LF."""
    lines = []
    for _ in range(count):
        head = words[prng.below(len(words))].capitalize()
        glosses = ", ".join(words[prng.below(len(words))] for _ in range(2 + prng.below(7)))
        lines.append(("%s\t%s\r\n" % (head, glosses)).encode("ascii"))
    return lines


def make_text(prng, lines, size):
    """size bytes of lines picked from the pool; the last line is cut."""
    chunks = []
    total = 0
    while total < size:
        line = lines[prng.below(len(lines))]
        chunks.append(line)
        total += len(line)
    return b"".join(chunks)[:size]


def deflate(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15, 9, zlib.Z_DEFAULT_STRATEGY)
    return compressor.compress(data) + compressor.flush()


def write_archive(path, entries, dos_time=DEFAULT_TIME):
    """entries: (name, bytes) pairs, written deflated, in the given order,
    each dated dos_time, a (date, time) pair.

    The pairs may come from a generator: each entry is written as soon as it
    is packed, so a large module never holds more than one file in memory."""
    date, time = dos_time
    central = bytearray()
    count = 0
    with open(path, "wb") as out:
        for name, data in entries:
            encoded = name.encode("ascii")
            packed = deflate(data)
            crc = zlib.crc32(data) & 0xFFFFFFFF
            offset = out.tell()
            out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, VERSION_NEEDED, LOCAL_FLAGS, 8,
                                  time, date, crc, len(packed), len(data), len(encoded), 0))
            out.write(encoded)
            out.write(packed)
            central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, VERSION_MADE_BY,
                                   VERSION_NEEDED, CENTRAL_FLAGS, 8, time, date, crc,
                                   len(packed), len(data), len(encoded), 0, 0, 0, 0,
                                   ATTRIBUTE_ARCHIVE, offset)
            central += encoded
            count += 1
        directory_offset = out.tell()
        out.write(central)
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count,
                              len(central), directory_offset, 0))
        return out.tell()


def write_checksum(archive):
    """Writes the archive's CRC-32 (the ZIP one), four bytes little endian,
    beside it as NAME.crc: the setup checks its payload against it."""
    crc = 0
    with open(archive, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            crc = zlib.crc32(chunk, crc)
    data = struct.pack("<I", crc & 0xFFFFFFFF)
    path = os.path.splitext(archive)[0] + ".crc"
    try:
        if open(path, "rb").read() == data:
            return path  # unchanged: keeps its time, the build does not redo its work
    except OSError:
        pass
    with open(path, "wb") as f:
        f.write(data)
    return path


def standin_entries(seed, entries):
    """Stand-in text for (name, size) pairs, the same for the same seed."""
    prng = Prng(seed)
    words = make_vocabulary(prng, 3000)
    lines = make_lines(prng, words, 6000)
    return [(name, make_text(prng, lines, size)) for name, size in entries]


def bench_entries():
    prng = Prng(0x4245_4E43)
    words = make_vocabulary(prng, 3000)
    lines = make_lines(prng, words, 20000)
    return [("bench%02d.qd" % i, make_text(prng, lines, BENCH_FILE_SIZE))
            for i in range(BENCH_FILES)]


def main(argv):
    if len(argv) != 3 or argv[1] != "--bench":
        sys.stderr.write("usage: make_payload.py --bench OUT.zip\n")
        return 2
    write_archive(argv[2], bench_entries())
    write_checksum(argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
