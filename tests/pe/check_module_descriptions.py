#!/usr/bin/env python3
"""A description one past any limit is refused, names the file, the field's
line, the field and the limit, and leaves nothing behind; the description at every limit
(tests/modules/limits.ini) builds; a module built from a folder comes out
the same whatever the files' times and the order the folder lists them in;
a version no Windows Installer package can hold is refused by the package
builder, and by --check, which scripts/module asks before it builds.

    check_module_descriptions.py
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TOOL = os.path.join(ROOT, "res", "make_module.py")
LIMITS = os.path.join(ROOT, "tests", "modules", "limits.ini")
LONG_NAME = "l" * 52 + ".qd"


def field(text, key, value):
    """text with key's value replaced (None: the key removed)."""
    pattern = re.compile(r"^%s = .*$\n" % re.escape(key), re.M)
    assert pattern.search(text), key
    return pattern.sub("" if value is None else "%s = %s\n" % (key, value), text, count=1)


def add_after(key, line):
    """text with line added right after key's line."""
    def change(text):
        pattern = re.compile(r"^%s = .*$\n" % re.escape(key), re.M)
        assert pattern.search(text), key
        return pattern.sub(lambda m: m.group(0) + line + "\n", text, count=1)
    return change


def rename(old, new):
    def change(folder):
        os.rename(os.path.join(folder, old), os.path.join(folder, new))
    return change


def add_file(name):
    def change(folder):
        open(os.path.join(folder, name), "wb").write(b"x")
    return change


def empty(folder):
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))


def standin(lines):
    return lambda t: field(field(t, "folder", None), "order", "x").replace(
        "order = x\n", "seed = 1\nstandin =\n" + "".join("    %s\n" % l for l in lines))


# (what, change to the description text, change to its folder, field named, limit named)
CASES = [
    ("section name of 32", lambda t: field(t, "FileDescription", "Limits Dictionary 0123456789abcd"), None,
     "[version] FileDescription", "at most 31"),
    ("entry name of 32", lambda t: field(t, "Comments", "Quorin Limits Dictionary 0123456"), None,
     "[version] Comments", "at most 31"),
    ("product name of 64", lambda t: field(t, "ProductName", "Q" * 64), None, "[version] ProductName", "at most 63"),
    ("caption of 256", lambda t: field(t, "Caption", "C" * 256), None, "[dialog] Caption", "at most 255"),
    ("fallback text of 256", lambda t: field(t, "Success", "S" * 256), None, "[dialog] Success", "at most 255"),
    ("text not ASCII", lambda t: field(t, "Invitation", "Cliquez sur D\u00e9marrer"), None,
     "[dialog] Invitation", "U+00E9) at character 14"),
    ("translated text of 256", lambda t: field(t, "Failure.de", "\u00e4" * 256), None, "[dialog] Failure.de",
     "at most 255"),
    ("translated text with a control character", lambda t: field(t, "Failure.de", "Nicht\u0007 installiert"), None,
     "[dialog] Failure.de", "U+0007 at character 6"),
    ("unknown language tag", add_after("Failure", "Failure.es = No se ha instalado."), None, "[dialog] Failure.es",
     "unknown language tag 'es'"),
    # Ukraine's country code in place of the language's: the refusal lists
    # the tags the program knows.
    ("country code for a language tag",
     add_after("Failure", "Failure.ua = \u041f\u043e\u043c\u0438\u043b\u043a\u0430."),
     None, "[dialog] Failure.ua", "unknown language tag 'ua'; the program speaks de, fr, ru, uk besides English"),
    ("language tag on a text without translations", add_after("Caption", "Caption.de = Einrichtung"), None,
     "[dialog] Caption.de", "only Failure takes a language tag"),
    ("message id 65536", lambda t: field(t, "InvitationMessage", "65536"), None,
     "[dialog] InvitationMessage", "1 to 65535"),
    ("message id 0", lambda t: field(t, "CancelMessage", "0"), None, "[dialog] CancelMessage", "1 to 65535"),
    ("text in a code page", lambda t: field(t, "Invitation", "Cliquez sur D\u00e9marrer").encode("cp1252"), None,
     ": line ", "byte 0xE9 is neither ASCII nor UTF-8"),
    ("version number 65536", lambda t: field(t, "FileVersionNumber", "65536,0,0,0"), None,
     "[version] FileVersionNumber", "0 to 65535"),
    ("version number of three parts", lambda t: field(t, "ProductVersionNumber", "1,0,0"), None,
     "[version] ProductVersionNumber", "four numbers"),
    ("version number not in ASCII digits", lambda t: field(t, "FileVersionNumber", "1,0,0,\u00b2"), None,
     "[version] FileVersionNumber", "four numbers"),
    ("missing field", lambda t: field(t, "Comments", None), None, "[version] Comments", "missing"),
    ("entry name of another product", lambda t: field(t, "Comments", "Limits Dictionary"), None,
     "[version] Comments", "begins with 'Quorin '"),
    ("empty field", lambda t: field(t, "Caption", ""), None, "[dialog] Caption", "empty"),
    ("section misspelt", lambda t: t.replace("[dialog]", "[dialogue]"), None, "[dialogue]",
     "unknown section; did you mean [dialog]?"),
    ("section missing", lambda t: t.replace("[icon]\nband = navy silver teal\n", ""), None, "[icon]",
     "missing (a required section)"),
    ("field misspelt", lambda t: t.replace("FileDescription =", "FileDesciption ="), None,
     "[version] FileDesciption", "did you mean FileDescription?"),
    ("field in the wrong case", lambda t: t.replace("folder =", "Folder ="), None, "[payload] Folder",
     "did you mean folder? (names are case-sensitive)"),
    ("file name of 56", lambda t: t.replace(LONG_NAME, "l" + LONG_NAME), rename(LONG_NAME, "l" + LONG_NAME),
     "[payload] folder", "at most 55"),
    ("file not a .qd", lambda t: t.replace(" a.qd", " a.qd b.txt"), add_file("b.txt"), "[payload] folder", ".qd"),
    ("name with a folder", standin(["diction\\bg.qd 10"]), None, "[payload] standin", "not a plain file name"),
    ("name climbing out", standin(["../bg.qd 10"]), None, "[payload] standin", "not a plain file name"),
    ("empty payload", lambda t: field(t, "order", None), empty, "[payload]", "at least one file"),
    ("empty stand-in", standin([]), None, "[payload]", "at least one file"),
    ("names equal but for case", standin(["a.qd 1", "A.QD 2"]), None, "[payload]", "'a.qd' and 'A.QD': file names distinct"),
    ("order missing a file", lambda t: field(t, "order", "a.qd"), None, "[payload] order", "exactly once"),
    ("payload time before 1980", lambda t: field(t, "time", "1979-12-31 23:59"), None, "[payload] time", "1980 to 2107"),
    ("payload time after 2107", lambda t: field(t, "time", "2108-01-01 00:00"), None, "[payload] time", "1980 to 2107"),
    ("payload time no real date", lambda t: field(t, "time", "2023-02-29 12:00"), None, "[payload] time", "real date"),
    ("icon colour unknown", lambda t: field(t, "band", "navy silver pink"), None, "[icon] band", "three of"),
    ("product title of 128", lambda t: t.replace("TitleE = ", "TitleE = Q"), None, "[product] TitleE", "at most 127"),
    ("product language of 260", lambda t: t.replace("Language = ", "Language = L"), None,
     "[product] Language", "at most 259"),
    ("product letter of two", lambda t: field(t, "Letter", "LX"), None, "[product] Letter", "one printable"),
    ("product letter of the product's own", lambda t: field(t, "Letter", "R"), None, "[product] Letter", "not ':'"),
    ("product section without its letter", lambda t: field(t, "Letter", None), None, "[product] Letter", "missing"),
]


def at_limits(text):
    """The fields of the description at every limit that must stand exactly
    at their limits, as configparser reads them (it strips blanks)."""
    sys.path.insert(0, os.path.join(ROOT, "res"))
    import make_module
    d = make_module.Description(LIMITS)
    lengths = {"FileDescription": (len(d.strings["FileDescription"]), make_module.NAME_LIMIT),
               "Comments": (len(d.strings["Comments"]), make_module.NAME_LIMIT),
               "ProductName": (len(d.strings["ProductName"]), make_module.VERSION_TEXT_LIMIT),
               "file name": (max(len(n) for n, _ in d.payload), make_module.FILE_NAME_LIMIT),
               "InvitationMessage": (d.messages["InvitationMessage"], make_module.MESSAGE_ID_LIMIT),
               "TitleE": (len(d.product["TitleE"]), make_module.TITLE_LIMIT),
               "Language": (len(d.product["Language"]), make_module.LANGUAGE_LIMIT)}
    for key in make_module.DIALOG_TEXTS:
        lengths[key] = (len(d.texts[key]), make_module.DIALOG_TEXT_LIMIT)
    lengths["Failure.de"] = (len(d.translations[("Failure", "de")]), make_module.DIALOG_TEXT_LIMIT)
    return ["%s stands at %d, its limit is %d" % (k, v, limit) for k, (v, limit) in lengths.items() if v != limit]


def run(args):
    return subprocess.run([sys.executable, TOOL] + args, capture_output=True, text=True)


def check_reproducible(work):
    """Two builds of the limits module, its files touched and re-created in
    between, give the same archive and resource script."""
    outputs = []
    for attempt, mtime in enumerate((1_000_000_000, 1_700_000_000)):
        case = os.path.join(work, "again%d" % attempt)
        shutil.copytree(os.path.dirname(LIMITS), case)
        folder = os.path.join(case, "limits")
        names = sorted(os.listdir(folder), reverse=attempt == 1)
        for name in names:  # re-created in another order: another directory order
            data = open(os.path.join(folder, name), "rb").read()
            os.remove(os.path.join(folder, name))
            open(os.path.join(folder, name), "wb").write(data)
            os.utime(os.path.join(folder, name), (mtime, mtime))
        result = run([os.path.join(case, "limits.ini"), os.path.join(case, "out")])
        if result.returncode != 0:
            return ["the limits module did not build: " + result.stderr]
        outputs.append([open(os.path.join(case, "out", f), "rb").read() for f in ("quorin.zip", "module.rc")])
    return [] if outputs[0] == outputs[1] else ["two builds from one folder differ"]


def check_package_version(work):
    """A version a Windows Installer package cannot hold (major or minor past
    255; the description at every limit has 65535) is refused by the package
    builder with one line, and no package is left; --check refuses it with
    the field's line before anything is built."""
    failures = []
    line = [n for n, text in enumerate(open(LIMITS, encoding="utf-8"), 1) if text.startswith("FileVersionNumber")][0]
    check = run(["--check", LIMITS])
    if check.returncode != 1 or "%s:%d: [version] FileVersionNumber: field 1 is 65535, a Windows Installer package " \
            "takes at most 255" % (LIMITS, line) not in check.stderr:
        failures.append("--check of limits.ini: exit code %d:\n%s" % (check.returncode, check.stderr))
    out = os.path.join(work, "package", "quorin-limits.msi")
    result = subprocess.run([sys.executable, os.path.join(ROOT, "res", "make_package.py"), LIMITS, LIMITS, LIMITS,
                             "x86", os.path.join(work, "package"), out], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, universal_newlines=True)
    if result.returncode != 1 or "FileVersionNumber: field 1 is 65535, a Windows Installer package takes at most 255" \
            not in result.stderr:
        failures.append("package of limits.ini: exit code %d:\n%s" % (result.returncode, result.stderr))
    if os.path.exists(out) or os.path.exists(out + ".partial"):
        failures.append("package of limits.ini: a package was written")
    return failures


def main():
    failures = []
    text = open(LIMITS, encoding="utf-8").read()
    with tempfile.TemporaryDirectory() as work:
        result = run([LIMITS, os.path.join(work, "limits")])
        if result.returncode != 0:
            failures.append("the description at every limit is refused:\n" + result.stderr)
        else:
            failures += ["limits.ini: " + f for f in at_limits(text)]
        for what, change_text, change_folder, named_field, limit in CASES:
            case = os.path.join(work, re.sub(r"\W+", "_", what))
            shutil.copytree(os.path.join(os.path.dirname(LIMITS), "limits"), os.path.join(case, "limits"))
            if change_folder:
                change_folder(os.path.join(case, "limits"))
            description = os.path.join(case, "limits.ini")
            changed = change_text(text)
            with open(description, "wb") as f:
                f.write(changed if isinstance(changed, bytes) else changed.encode("utf-8"))
            out = os.path.join(case, "out")
            result = run([description, out])
            message = result.stderr
            # A fault about a field the file holds names its line.
            key = named_field.partition("] ")[2]
            text_lines = (changed.decode("utf-8", "replace") if isinstance(changed, bytes) else changed).splitlines()
            held = [n for n, line in enumerate(text_lines, 1) if key and line.startswith(key + " =")]
            place = "%s:%d:" % (description, held[0]) if held else description
            if result.returncode != 1:
                failures.append("%s: exit code %d" % (what, result.returncode))
            elif not any(place in line and named_field in line and limit in line for line in message.splitlines()):
                failures.append("%s: no line names %s, %s and %r:\n%s" % (what, place, named_field, limit, message))
            if os.path.exists(out):
                failures.append("%s: something was written" % what)
        failures += check_reproducible(work)
        failures += check_package_version(work)
    for failure in failures:
        print("FAILED:", failure)
    print("%d refusal cases and the folder build, %d failed" % (len(CASES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
