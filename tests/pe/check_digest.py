#!/usr/bin/env python3
"""The default build is the German module built through its description, and
its bytes change only on purpose.

    check_digest.py DEFAULT_EXE RECORDED.sha256 GERMAN_MODULE_EXE

RECORDED.sha256 holds the digest of the i686 build/bin/setup.exe on its first
line that is not a comment. A change to the program's code or resources
changes it: rebuild, look at what changed, and re-record with
    sha256sum build/bin/setup.exe | cut -d' ' -f1  (in place of that line)
"""
import hashlib
import sys


def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def main(argv):
    default, recorded_path, module = argv[1:4]
    recorded = next(line.strip() for line in open(recorded_path)
                    if line.strip() and not line.startswith("#"))
    failures = []
    if digest(default) != digest(module):
        failures.append("%s differs from %s, built from modules/german.ini" % (default, module))
    if digest(default) != recorded:
        failures.append("%s has digest %s, recorded %s (re-record only on purpose; see %s)"
                        % (default, digest(default), recorded, recorded_path))
    for failure in failures:
        print("FAILED:", failure)
    print("%s: %s" % (default, digest(default)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
