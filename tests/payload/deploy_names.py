#!/usr/bin/env python3
"""Writes the payload archive that the deploy tests' own program carries as
its resource ZIP 102: the setup copies only the files its payload's directory
lists, so the names the tests put into the work folder are listed here
(with empty contents: only the directory is read).

    deploy_names.py OUT.zip
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res"))
import make_payload  # noqa: E402

NAMES = ["a.b.zip", "TG.QD", "x.zip.qd", "50%d.qd", "notes.txt", "noextension", "newer.qd", "equal.qd",
         "older.qd", "empty.qd", "readme.txt", "bg.qd", "mg.qd",
         # A name that just fits the deep destination of the long-path test,
         # and one a character longer.
         "f" * 21 + ".qd", "t" * 22 + ".qd"]

if __name__ == "__main__":
    make_payload.write_archive(sys.argv[1], [(name, b"") for name in NAMES])
