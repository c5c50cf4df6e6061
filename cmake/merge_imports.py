#!/usr/bin/env python3
"""Writes the linker script of the setup program: the linker's own default
script for Windows programs, with the import tables moved from a section of
their own into .rdata, as other Windows linkers place them.

    merge_imports.py LD OUTPUT.ld

Each section of a program file is padded to 512 bytes; the import tables
(about 3 KB) in .rdata save one such padding, and the loader fills the
import address table wherever it lies (it makes it writable while it
binds). The script is made from the linker at hand, so that it follows the
toolchain's own layout in everything else.

Without an output section named .idata the linker finds the import
directory and the import address table through symbols named after their
input sections, which hold image-relative addresses; the script defines
them where the tables start. The linker takes the import directory to end
at the symbol .idata$4, which stays right behind the directory.

Two parts of the import tables are never read by the loader of a program
that is not bound to its DLLs, as this one is not:
- each import's own 4-byte piece of .idata$7, which only refers to its
  import library's head, so that the head is linked in: the script drops
  it (the DLL names, in .idata$7 of each library's tail, stay);
- the import lookup tables (.idata$4), a copy of the import address tables
  that only binding needs: the script puts them last in .rdata, and
  cmake/drop_lookup_tables.py cuts them off after linking.

The program starts without the C runtime's start-up code, so nothing would
run static constructors or destructors: their lists (two sentinel words
each at the end of .text) are left out, and the link is refused should
any appear.
"""
import re
import subprocess
import sys

# The members of a binutils import library: <lib>h.o (the head: the DLL's
# import descriptor), <lib>t.o (the tail: the DLL's name and the tables'
# terminators) and one <lib>sNNNNN.o for each import.
IMPORT_MEMBER = "*s[0-9][0-9][0-9][0-9][0-9].o"


def drop_constructor_lists(ld, script):
    """The script without the lists of static constructors and destructors
    in .text, which only the C runtime's start-up code reads, and which the
    program starts without (it has no static constructors). Any such input
    goes to a section of its own instead, which the link refuses."""
    match = re.search(r"\n(    \. = ALIGN\(8\);\n)?       /\* Note: we always define __CTOR_LIST__.*?"
                      r"KEEP ?\(\*\(SORT_BY_NAME\(\.dtors\.\*\)\)\);\n       LONG \(0\);( LONG \(0\);)?\n"
                      r"(    KEEP \(\*\(SORT_NONE\(\.fini\)\)\).*?\n  \}\n)", script, re.S)
    if match is None:
        sys.exit("%s: the constructor lists of the default script not recognised" % ld)
    lists = ("  /* Static constructors and destructors, which nothing would run. */\n"
             "  .ctors : { *(.ctors) *(.ctor) *(SORT_BY_NAME(.ctors.*)) *(.dtors) *(.dtor) *(SORT_BY_NAME(.dtors.*)) }\n"
             "  ASSERT(SIZEOF(.ctors) == 0, \"static constructors or destructors: the program runs none\")\n")
    return script[:match.start()] + "\n" + match.group(3) + lists + script[match.end():]


def main(ld, output):
    verbose = subprocess.run([ld, "--verbose"], check=True, capture_output=True, text=True).stdout
    script = verbose.split("=" * 50)[1]
    match = re.search(r"\n  \.idata BLOCK\(__section_alignment__\) :\n  \{\n(.*?)\n  \}\n", script, re.S)
    if match is None:
        sys.exit("%s: no .idata section in the default script" % ld)
    body = match.group(1)
    lines = body.split("\n")
    for part in ("2", "4", "5", "6"):
        at = [i for i, line in enumerate(lines) if "(.idata$%s)" % part in line]
        if len(at) != 1:
            sys.exit("%s: .idata$%s of the default script not recognised" % (ld, part))
        lines.insert(at[0], '    ".idata$%s" = ABSOLUTE(.) - __image_base__;' % part)
    # The lookup tables last, the symbol .idata$4 left where they were.
    at = [i for i, line in enumerate(lines) if "(.idata$4)" in line]
    lookup = lines.pop(at[0])
    lines.append("    /* The import lookup tables, cut off after linking. */")
    lines.append(lookup)
    body = "\n".join(lines)
    script = script[:match.start()] + "\n" + script[match.end():]
    end_of_rdata = "    __rt_psrelocs_end = .;\n"
    if script.count(end_of_rdata) != 1:
        sys.exit("%s: .rdata of the default script not recognised" % ld)
    script = script.replace(end_of_rdata, end_of_rdata + body + "\n")
    script = drop_constructor_lists(ld, script)
    rdata = "  .rdata BLOCK(__section_alignment__) :\n"
    if script.count(rdata) != 1:
        sys.exit("%s: .rdata of the default script not recognised" % ld)
    # Before .rdata, which would otherwise take these pieces with the names.
    script = script.replace(rdata, "  /* Each import's reference to its library's head. */\n"
                            "  /DISCARD/ : { %s(.idata$7) }\n%s" % (IMPORT_MEMBER, rdata))
    with open(output, "w") as f:
        f.write("/* Made by cmake/merge_imports.py from `%s --verbose`. */\n%s" % (ld, script))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
