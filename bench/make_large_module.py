#!/usr/bin/env python3
"""Writes a large module for the bench: a folder of dictionary-like text files
and the description that builds a setup program from it.

    make_large_module.py OUT_DIR [FILES [MEGABYTES]]   (default 500 files, 200 MB)

OUT_DIR/files/ gets FILES files named large000.qd, ... of about equal size,
MEGABYTES * 2^20 bytes in all; OUT_DIR/large.ini describes the module. The
same arguments always give the same bytes.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "res"))
import make_payload  # noqa: E402

DESCRIPTION = """# A large module for bench/large_module: not shipped.
[version]
FileDescription = Large Dictionary
Comments = Quorin Large Dictionary
ProductName = Quorin
FileVersion = 1.0
ProductVersion = 3.0
FileVersionNumber = 1,0,0,1
ProductVersionNumber = 1,0,0,1

[dialog]
InvitationMessage = 1289
StartMessage = 364
CancelMessage = 291
SuccessMessage = 1297
Caption = Large Dictionary Setup
Invitation = Click Start button to installation Quorin Large Dictionary.
Success = Quorin Large Dictionary has been installed successfully.
Failure = Quorin Large Dictionary was not installed completely. Run this setup again; if it fails again, run it with /log=PATH to see why.

[payload]
folder = files

[icon]
band = grey silver navy
"""


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    count = int(argv[2]) if len(argv) > 2 else 500
    total = (int(argv[3]) if len(argv) > 3 else 200) << 20
    folder = os.path.join(out, "files")
    os.makedirs(folder, exist_ok=True)
    prng = make_payload.Prng(0x4C41_5247)
    words = make_payload.make_vocabulary(prng, 5000)
    lines = make_payload.make_lines(prng, words, 40000)
    for i in range(count):
        size = total // count + (total % count if i == 0 else 0)
        with open(os.path.join(folder, "large%03d.qd" % i), "wb") as f:
            f.write(make_payload.make_text(prng, lines, size))
    with open(os.path.join(out, "large.ini"), "w") as f:
        f.write(DESCRIPTION)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
