#!/usr/bin/env python3
"""Writes the archives the unpacker tests read, into the folder named:

    make_fixtures.py OUTDIR

src/      the files the archives hold, to compare what comes out against
izip_*    made by Info-ZIP zip: deflated, stored, streamed (data
          descriptors) and a tree with directory entries
py_*      made by Python's zipfile: deflated, stored, streamed
payload   the setup program's own payload archive

Every file is dated 2001-02-03 04:05:06 local time, so the tests can check
the times the unpacker gives the files it writes.
"""

import io
import os
import shutil
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "res"))
import make_module  # noqa: E402
import make_payload  # noqa: E402

STAMP = (2001, 2, 3, 4, 5, 6)
FLAT = ["alpha.txt", "empty.dat", "Mixed Case %1.bin"]
TREE = "sub/deeper/beta.txt"


def source_files():
    prng = make_payload.Prng(0x46495854)
    words = make_payload.make_vocabulary(prng, 400)
    lines = make_payload.make_lines(prng, words, 800)
    noise = bytes(prng.next() & 0xFF for _ in range(4000))
    return {
        "alpha.txt": make_payload.make_text(prng, lines, 20000),
        "empty.dat": b"",
        "Mixed Case %1.bin": noise,
        TREE: make_payload.make_text(prng, lines, 5000),
    }


class Unseekable(io.RawIOBase):
    """A sink zipfile cannot seek back in, so it writes data descriptors."""

    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, data):
        self.target.write(data)
        return len(data)


def write_python(path, files, method, stream=False):
    def fill(archive):
        for name in FLAT + [TREE]:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = method
            archive.writestr(info, files[name])

    if stream:
        with open(path, "wb") as f, zipfile.ZipFile(Unseekable(f), "w") as archive:
            fill(archive)
    else:
        with zipfile.ZipFile(path, "w") as archive:
            fill(archive)


def run_zip_to_pipe(source, args, out_path):
    made = subprocess.run(["zip", "-q", "-X"] + args, cwd=source, stdout=subprocess.PIPE,
                          check=True)
    with open(out_path, "wb") as out:
        out.write(made.stdout)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_fixtures.py OUTDIR\n")
        return 2
    out = os.path.abspath(argv[1])
    source = os.path.join(out, "src")
    shutil.rmtree(source, ignore_errors=True)
    os.makedirs(os.path.join(source, "sub", "deeper"))

    files = source_files()
    stamp = time.mktime(STAMP + (0, 0, -1))
    for name, data in files.items():
        path = os.path.join(source, *name.split("/"))
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (stamp, stamp))
    for folder in ("sub/deeper", "sub"):
        os.utime(os.path.join(source, *folder.split("/")), (stamp, stamp))

    for name in os.listdir(out):
        if name.endswith(".zip"):
            os.remove(os.path.join(out, name))
    # zip writes to stdout when the archive is "-"; a pipe cannot be sought
    # in, so the streamed archive gets data descriptors.
    run_zip_to_pipe(source, ["-D", "-", *FLAT], os.path.join(out, "izip_stream.zip"))
    subprocess.run(["zip", "-q", "-X", "-D", os.path.join(out, "izip_deflate.zip"), *FLAT],
                   cwd=source, check=True)
    subprocess.run(["zip", "-q", "-X", "-D", "-0", os.path.join(out, "izip_stored.zip"), *FLAT],
                   cwd=source, check=True)
    subprocess.run(["zip", "-q", "-X", "-r", os.path.join(out, "izip_tree.zip"), "sub"],
                   cwd=source, check=True)

    write_python(os.path.join(out, "py_deflate.zip"), files, zipfile.ZIP_DEFLATED)
    write_python(os.path.join(out, "py_stored.zip"), files, zipfile.ZIP_STORED)
    write_python(os.path.join(out, "py_stream.zip"), files, zipfile.ZIP_DEFLATED, stream=True)

    german = make_module.Description(os.path.join(HERE, "..", "..", "modules", "german.ini"))
    make_payload.write_archive(os.path.join(out, "payload.zip"), german.archive_entries())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
