#!/usr/bin/env python3
"""Turns a module's description (modules/NAME.ini) into what its setup.exe
is built from: module.rc (version resource, dialog texts, icon, manifest,
payload and checksum entries), setup.manifest, quorin.zip, quorin.crc and
setup.ico, all in one output folder. The program's own texts in German,
French, Russian and Ukrainian (res/program_texts.ini) go into every module's
string table beside the module's own.

    make_module.py DESCRIPTION.ini OUT_DIR [--depfile FILE]
    make_module.py --check DESCRIPTION.ini
    make_module.py --product DESCRIPTION.ini

--check checks a description as scripts/module needs it: for the program,
and for the Windows Installer package built beside it, whose version limits
are narrower (PACKAGE_VERSION_LIMITS).

--product prints, one a line, what the product's quorin.inf must hold for
the module: its section name, TitleE, Language, Letter and the file names
its mod list gives as diction\\NAME (the demo lays out the sandbox with it).

A description that breaks a limit is refused with one line per fault naming
the file, the line (where the fault has one), the field and the limit, and
nothing is written. The same
description and payload always give the same bytes.
"""

import configparser
import datetime
import difflib
import os
import re
import sys
import unicodedata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_icons  # noqa: E402
import make_payload  # noqa: E402

# The program keeps the module's section name and uninstall entry name in
# 32-byte fields; a longer name would be read as no name at all.
NAME_LIMIT = 31
# Product name and version texts: shown in the file's properties only.
VERSION_TEXT_LIMIT = 63
# The dialog's texts are loaded into 260-byte buffers; 255 leaves the
# program room to tell a complete text from a cut one.
DIALOG_TEXT_LIMIT = 255
# Message ids of the product's message library are string-table ids.
MESSAGE_ID_LIMIT = 65535
# quorin.inf lists each file as "diction\NAME", and the removal reads those
# values with a limit of 63 characters: a longer name would never be removed.
FILE_NAME_LIMIT = 63 - len("diction\\")
# The setup copies only ".qd" files out of the work folder (".QD" alike).
FILE_EXTENSION = ".qd"
# What the product's quorin.inf holds for the module, as the program reads it:
# TitleE with a limit of 128 and Language with 260 (terminator included), and
# the first character of Letter.
TITLE_LIMIT = 127
LANGUAGE_LIMIT = 259

VERSION_STRINGS = ["FileDescription", "Comments", "ProductName", "FileVersion", "ProductVersion"]
ENTRY_NAME_PREFIX = "Quorin "  # as the program's journal knows the product's entries
VERSION_NUMBERS = ["FileVersionNumber", "ProductVersionNumber"]
# A Windows Installer package's product version (the module's file version):
# major and minor up to 255, build up to 65535; a fourth field is kept but
# never compared. The program itself takes 65535 in every field.
PACKAGE_VERSION_LIMITS = (255, 255, 65535, 65535)
DIALOG_TEXTS = ["Caption", "Invitation", "Success", "Failure"]
MESSAGE_IDS = ["InvitationMessage", "StartMessage", "CancelMessage", "SuccessMessage"]
PRODUCT_TEXTS = {"TitleE": TITLE_LIMIT, "Language": LANGUAGE_LIMIT}

# The languages the program speaks beside English, each with the offset of
# its texts' ids from the English ones: the program adds the offset of the
# person's Windows display language to the English text's id, and finds the
# offset by the language's place in its own list (kLanguages in
# src/support/resources.cpp: 16 for the first, 8 more for each next one).
# Two languages fill a string table block: German at 20 to 23 and French at
# 28 to 31 in block 2 (ids 16 to 31), Russian at 36 to 39 and Ukrainian at
# 44 to 47 in block 3 (ids 32 to 47). Id 0 plus any offset stays empty, the
# program's "no text".
LANGUAGES = {"de": 16, "fr": 24, "ru": 32, "uk": 40}
# The texts the program has in every language (English at these ids, the
# others at the id plus the language's offset). The failure text is the
# module's own: its English is the Failure field, its others Failure.de,
# Failure.fr, Failure.ru and Failure.uk, each optional (the English text
# takes a missing one's place in that language's block). The other three are the program's own, from
# PROGRAM_TEXTS; their English stands in the program, which also writes it
# into the log, so the English block leaves their ids empty.
LOCAL_TEXT_IDS = {"Failure": 4, "Busy": 5, "Restart": 6, "NoProduct": 7}
PROGRAM_TEXTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "program_texts.ini")
# Fields of [dialog] that may carry a language tag (Failure.de).
TRANSLATED = ["Failure"]

# Every section and field a description may hold; anything else is a slip
# (a misspelt or miscased name), refused rather than ignored.
KNOWN = {
    "version": VERSION_STRINGS + VERSION_NUMBERS,
    "dialog": MESSAGE_IDS + DIALOG_TEXTS,
    "payload": ["folder", "order", "standin", "seed", "time"],
    "icon": ["band", "file"],
    "product": list(PRODUCT_TEXTS) + ["Letter"],
}

# Where the program finds its dialog texts: string table entries 1 to 4 and
# the four message ids as 32-bit numbers in RCDATA 106. The failure text has
# no message id: the product's library has no such text.
STRING_IDS = {"Caption": 1, "Invitation": 2, "Success": 3, "Failure": 4}
MESSAGE_IDS_RESOURCE = 106
# The payload's CRC-32, four bytes little endian, which the setup checks
# before it writes the archive out.
CHECKSUM_RESOURCE = 107

# The application manifest: what Windows reads of the program before it
# runs it. It names the module, asks for administrator rights (the setup
# writes under HKLM, the Windows directory and Program Files), declares the
# Windows versions from 7 to 11 as supported (Vista reads no such list, and
# every later Windows takes the newest one it knows), takes the visual style
# from Common Controls 6 (processorArchitecture "*": the one assembly of the
# program's own architecture, for the i686 and the x86_64 build alike), and
# declares the program aware of each monitor's DPI, so that Windows draws the
# dialog sharp at any scale instead of stretching a 96-DPI picture: the
# dialogs are laid out in dialog units with their font and grow with it.
# "true/PM" is read by Windows 8.1 and older Windows 10 (system aware where
# the system knows no more); "PerMonitorV2" by Windows 10 1703 and later.
# No blanks between elements, no attribute at its default (uiAccess): every
# byte of the program counts.
MANIFEST = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
    '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">'
    '<assemblyIdentity type="win32" name="%(name)s" version="%(version)s" processorArchitecture="*"/>'
    '<description>%(description)s</description>'
    '<dependency><dependentAssembly><assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls"'
    ' version="6.0.0.0" processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>'
    '</dependentAssembly></dependency>'
    '<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>'
    '<requestedExecutionLevel level="requireAdministrator"/>'
    '</requestedPrivileges></security></trustInfo>'
    '<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>'
    + "".join('<supportedOS Id="{%s}"/>' % guid for guid in (
        "35138b9a-5d96-4fbd-8e2d-a2440225f93a",   # 7
        "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",   # 8
        "1f676c76-80e1-4239-95bb-83d0f6d0da78",   # 8.1
        "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"))  # 10 and 11
    + '</application></compatibility>'
    '<application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>'
    '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/PM</dpiAware>'
    '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2</dpiAwareness>'
    '</windowsSettings></application>'
    '</assembly>\n')

# The payload's time, a DOS date and time: years 1980 to 2107.
PAYLOAD_TIME = re.compile(r"^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2})$")

PLAIN_NAME = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9_.\-]*$")
MODULE_NAME = re.compile(r"^[a-z0-9][a-z0-9_\-]*$")


class Refusal(Exception):
    pass


def nearest(name, known, shown):
    """The hint after an unknown name: the known name closest to it, or the
    whole list when none is close."""
    lowered = {k.lower(): k for k in known}
    match = difflib.get_close_matches(name.lower(), list(lowered), n=1, cutoff=0.6)
    if not match:
        return "; known: " + ", ".join(shown % k for k in known)
    if match[0] == name.lower():
        return "; did you mean %s? (names are case-sensitive)" % (shown % lowered[match[0]])
    return "; did you mean %s?" % (shown % lowered[match[0]])


def ascii_fault(value):
    """None for a printable ASCII text, else what is wrong and where."""
    for at, c in enumerate(value, 1):
        if not " " <= c <= "~":
            return "printable ASCII characters only: %r (U+%04X) at character %d" % (c, ord(c), at)
    return None


def translation_fault(value, limit):
    """None for a translated text the program can show whole, else what is
    wrong: over the limit, or a character that is no letter, mark, digit,
    punctuation, symbol or space (a control or format character, or one
    beyond U+FFFF, which a UTF-16 string table would hold as two)."""
    for at, c in enumerate(value, 1):
        if unicodedata.category(c)[0] == "C" or unicodedata.category(c) in ("Zl", "Zp") or ord(c) > 0xFFFF:
            return "printable characters only: U+%04X at character %d" % (ord(c), at)
    if len(value) > limit:
        return "at most %d characters, got %d" % (limit, len(value))
    return None


def field_lines(path):
    """{(section, field): line} of a description file as configparser reads
    it: a section header in brackets, a field's name at the start of its
    line; indented lines continue a value, '#' and ';' start comments."""
    lines, section = {}, None
    try:
        text = open(path, encoding="utf-8").read()
    except (OSError, UnicodeDecodeError):
        return lines
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip() or line[0] in " \t#;":
            continue
        header = re.match(r"\[(.*)\]\s*$", line)
        if header:
            section = header.group(1)
            lines.setdefault((section, ""), number)
            continue
        name = re.match(r"([^=:]*?)\s*[=:]", line)
        if name and section is not None:
            lines.setdefault((section, name.group(1)), number)
    return lines


def package_version_fault(numbers):
    """The first field of a file version a package cannot hold, as
    "field N is V, a Windows Installer package takes at most L", or None."""
    for at, (number, limit) in enumerate(zip(numbers, PACKAGE_VERSION_LIMITS)):
        if number > limit:
            return "field %d is %d, a Windows Installer package takes at most %d" % (at + 1, number, limit)
    return None


class Description:
    """The checked content of one description file; with package, also
    checked for the module's Windows Installer package."""

    def __init__(self, path, package=False):
        self.path = path
        self.faults = []
        self.name = os.path.splitext(os.path.basename(path))[0]
        if not MODULE_NAME.match(self.name):
            self.fault("(file name)", "a module name of lower-case letters, digits, '-' and '_'")
        # No section stands for defaults: a "[DEFAULT]" is then an unknown
        # section like any other, not keys silently added to every section.
        parser = configparser.ConfigParser(interpolation=None, comment_prefixes=("#", ";"), default_section="\n")
        parser.optionxform = str  # field names keep their case
        try:
            with open(path, encoding="utf-8") as f:
                parser.read_file(f)
        except UnicodeDecodeError as error:
            # Editors on Windows often save in a code page: say where, and in
            # the words of the field rule, not the codec's.
            line = error.object[: error.start].count(b"\n") + 1
            raise Refusal("%s: line %d: byte 0x%02X is neither ASCII nor UTF-8 (the texts are "
                          "printable ASCII characters only)" % (path, line, error.object[error.start]))
        except (OSError, configparser.Error) as error:
            raise Refusal("%s: cannot be read as a description: %s" % (path, error))
        self.parser = parser
        self.lines = field_lines(path)
        self.missing_sections = set()
        self.check_names()

        self.strings = {key: self.text("version", key, VERSION_TEXT_LIMIT) for key in VERSION_STRINGS}
        for key in ("FileDescription", "Comments"):
            value = self.strings[key]
            if value is not None and len(value) > NAME_LIMIT:
                self.fault("[version] " + key, "at most %d characters, got %d" % (NAME_LIMIT, len(value)))
        section = self.strings["FileDescription"]
        if section is not None and ("[" in section or "]" in section):
            self.fault("[version] FileDescription", "a quorin.inf section name: no '[' or ']'")
        # The product's modules file their uninstall entries under its name:
        # the journal's undo touches no entry filed otherwise.
        entry = self.strings["Comments"]
        if entry is not None and not entry.startswith(ENTRY_NAME_PREFIX):
            self.fault("[version] Comments", "the uninstall entry's name begins with %r" % ENTRY_NAME_PREFIX)
        self.numbers = {key: self.version_number(key) for key in VERSION_NUMBERS}
        version = self.numbers["FileVersionNumber"]
        beyond = package_version_fault(version) if package and version is not None else None
        if beyond:
            self.fault("[version] FileVersionNumber", beyond)
        self.texts = {key: self.text("dialog", key, DIALOG_TEXT_LIMIT) for key in DIALOG_TEXTS}
        self.translations = self.read_translations()
        self.program_texts = program_texts()
        self.messages = {key: self.message_id(key) for key in MESSAGE_IDS}
        self.payload = self.read_payload()
        self.payload_time = self.read_time()
        self.icon = self.read_icon()
        self.product = self.read_product()
        if self.faults:
            raise Refusal("\n".join("%s: %s: %s" % (self.place(field), field, limit) for field, limit in self.faults))

    def fault(self, field, limit):
        self.faults.append((field, limit))

    def place(self, field):
        """The file, and the line of the field when the fault is about one
        that the file holds: "PATH:LINE"."""
        named = re.match(r"\[(.*?)\](?: (\S+))?$", field)
        line = self.lines.get((named.group(1), named.group(2) or "")) if named else None
        return self.path if line is None else "%s:%d" % (self.path, line)

    def check_names(self):
        for section in self.parser.sections():
            if section not in KNOWN:
                self.fault("[%s]" % section, "unknown section" + nearest(section, list(KNOWN), "[%s]"))
                continue
            for key in self.parser.options(section):
                base, dot, tag = key.partition(".")
                if section == "dialog" and dot and base in TRANSLATED:
                    continue  # its tag is checked with its text
                if dot and section == "dialog" and base in KNOWN[section]:
                    tagged = ", ".join("%s.%s" % (f, t) for f in TRANSLATED for t in LANGUAGES)
                    self.fault("[%s] %s" % (section, key),
                               "unknown field; only %s takes a language tag (%s)" % (", ".join(TRANSLATED), tagged))
                elif key not in KNOWN[section]:
                    self.fault("[%s] %s" % (section, key), "unknown field" + nearest(key, KNOWN[section], "%s"))

    def has_section(self, section):
        """False, and the fault said once, when a required section is absent."""
        if self.parser.has_section(section):
            return True
        if section not in self.missing_sections:
            self.missing_sections.add(section)
            self.fault("[%s]" % section, "missing (a required section)")
        return False

    def value(self, section, key):
        if not self.has_section(section):
            return None
        if not self.parser.has_option(section, key):
            self.fault("[%s] %s" % (section, key), "missing (a required field)")
            return None
        value = self.parser.get(section, key).strip()
        if value == "":
            self.fault("[%s] %s" % (section, key), "empty (a required field)")
            return None
        return value

    def text(self, section, key, limit):
        value = self.value(section, key)
        if value is None:
            return None
        fault = ascii_fault(value)
        if fault:
            self.fault("[%s] %s" % (section, key), fault)
        elif len(value) > limit:
            self.fault("[%s] %s" % (section, key), "at most %d characters, got %d" % (limit, len(value)))
        return value

    def read_translations(self):
        """{(field, tag): text} of [dialog]'s per-language texts (Failure.de),
        any printable characters; an unknown tag or a text over the limit
        is a fault."""
        found = {}
        if not self.parser.has_section("dialog"):
            return found
        for key in self.parser.options("dialog"):
            base, dot, tag = key.partition(".")
            if not dot or base not in TRANSLATED:
                continue
            field = "[dialog] " + key
            if tag not in LANGUAGES:
                self.fault(field, "unknown language tag %r; the program speaks %s besides English (the field "
                           "without a tag)" % (tag, ", ".join(sorted(LANGUAGES))))
                continue
            value = self.parser.get("dialog", key).strip()
            fault = "empty (leave the field out for English)" if not value else \
                translation_fault(value, DIALOG_TEXT_LIMIT)
            if fault:
                self.fault(field, fault)
            else:
                found[(base, tag)] = value
        return found

    def version_number(self, key):
        value = self.value("version", key)
        if value is None:
            return None
        # ASCII digits only: str.isdigit() takes "\u00b2", which int() refuses.
        parts = [p.strip() for p in re.split(r"[.,]", value)]
        if len(parts) != 4 or not all(re.fullmatch(r"[0-9]+", p) and int(p) <= 65535 for p in parts):
            self.fault("[version] " + key, "four numbers from 0 to 65535, e.g. 1,0,0,1")
            return None
        return [int(p) for p in parts]

    def message_id(self, key):
        value = self.value("dialog", key)
        if value is None:
            return None
        if not re.fullmatch(r"[0-9]+", value) or not 1 <= int(value) <= MESSAGE_ID_LIMIT:
            self.fault("[dialog] " + key, "a message id from 1 to %d" % MESSAGE_ID_LIMIT)
            return None
        return int(value)

    def read_product(self):
        """The module's TitleE, Language and Letter in the product's quorin.inf,
        or None when the description does not state them (the section is
        optional)."""
        if not self.parser.has_section("product"):
            return None
        product = {key: self.text("product", key, limit) for key, limit in PRODUCT_TEXTS.items()}
        letter = self.value("product", "Letter")
        if letter is not None and (len(letter) != 1 or letter in ":ERU" or ascii_fault(letter)):
            # ':' parts the product's direction list, and E, R and U are the
            # product's own letters: a removal would prune their directions.
            self.fault("[product] Letter", "one printable ASCII character, not ':', 'E', 'R' or 'U'; got %r" % letter)
        product["Letter"] = letter
        return product

    def check_file_name(self, field, name):
        if not PLAIN_NAME.match(name) or name in (".", ".."):
            self.fault(field, "%r is not a plain file name (letters, digits, '.', '-', '_'; no folder)" % name)
        elif len(name) > FILE_NAME_LIMIT:
            self.fault(field, "%r: at most %d characters, got %d" % (name, FILE_NAME_LIMIT, len(name)))
        elif not name.lower().endswith(FILE_EXTENSION):
            self.fault(field, "%r: the setup installs only %s files" % (name, FILE_EXTENSION))

    def read_payload(self):
        """(name, source) pairs in archive order; source is a path or a size."""
        if not self.has_section("payload"):
            return []
        has_folder = self.parser.has_option("payload", "folder")
        has_standin = self.parser.has_option("payload", "standin")
        if has_folder == has_standin:
            self.fault("[payload] folder / standin", "exactly one of the two")
            return []
        entries = []
        if has_standin:
            seed = self.value("payload", "seed")
            if seed is not None:
                try:
                    self.seed = int(seed, 0)
                except ValueError:
                    self.fault("[payload] seed", "a number")
            for line in self.parser.get("payload", "standin").split("\n"):
                if not line.strip():
                    continue
                parts = line.split()
                if len(parts) != 2 or not re.fullmatch(r"[0-9]+", parts[1]):
                    self.fault("[payload] standin", "one 'NAME SIZE' pair a line, got %r" % line.strip())
                    continue
                self.check_file_name("[payload] standin", parts[0])
                entries.append((parts[0], int(parts[1])))
        else:
            folder = os.path.join(os.path.dirname(self.path), self.parser.get("payload", "folder").strip())
            if not os.path.isdir(folder):
                self.fault("[payload] folder", "%s is not a folder" % folder)
                return []
            names = sorted(os.listdir(folder))
            for name in names:
                if not os.path.isfile(os.path.join(folder, name)) or os.path.islink(os.path.join(folder, name)):
                    self.fault("[payload] folder", "%r: only plain files, no folders or links" % name)
                self.check_file_name("[payload] folder", name)
            if self.parser.has_option("payload", "order"):
                order = self.parser.get("payload", "order").split()
                if sorted(order) != names:
                    self.fault("[payload] order", "every file of the folder exactly once")
                names = order
            entries = [(name, os.path.join(folder, name)) for name in names]
        if not entries:
            self.fault("[payload]", "at least one file")
        first = {}
        for name, _ in entries:
            if name.lower() in first:
                self.fault("[payload]", "%r and %r: file names distinct regardless of case (the setup lower-cases them)"
                           % (first[name.lower()], name))
            else:
                first[name.lower()] = name
        return entries

    def read_time(self):
        """The entries' DOS (date, time); the fixed one when the field is absent."""
        if not self.parser.has_option("payload", "time"):
            return make_payload.DEFAULT_TIME
        match = PAYLOAD_TIME.match(self.parser.get("payload", "time").strip())
        try:
            when = datetime.datetime(*(int(part) for part in match.groups())) if match else None
        except ValueError:
            when = None
        if when is None or not 1980 <= when.year <= 2107:
            self.fault("[payload] time", "a real date and time YYYY-MM-DD HH:MM from 1980 to 2107")
            return None
        return make_payload.dos_date_time(when.year, when.month, when.day, when.hour, when.minute)

    def read_icon(self):
        if not self.has_section("icon"):
            return None
        has_band = self.parser.has_option("icon", "band")
        has_file = self.parser.has_option("icon", "file")
        if has_band == has_file:
            self.fault("[icon] band / file", "exactly one of the two")
            return None
        if has_file:
            path = os.path.join(os.path.dirname(self.path), self.parser.get("icon", "file").strip())
            try:
                data = open(path, "rb").read()
            except OSError:
                data = b""
            if len(data) < 6 or data[:4] != b"\0\0\1\0" or data[4] == 0 and data[5] == 0:
                self.fault("[icon] file", "%s is not an icon file" % path)
            return data
        band = self.parser.get("icon", "band").split()
        if len(band) != 3 or not all(c in make_icons.COLOURS for c in band):
            self.fault("[icon] band", "three of %s" % " ".join(sorted(make_icons.COLOURS)))
            return None
        return make_icons.icon_file(lambda size: make_icons.dictionary(size, [make_icons.COLOURS[c] for c in band]))

    def archive_entries(self):
        if all(isinstance(source, int) for _, source in self.payload):
            yield from make_payload.standin_entries(self.seed, self.payload)
            return
        for name, path in self.payload:
            with open(path, "rb") as f:
                yield name, f.read()


def program_texts():
    """{(name, tag): text} of the program's own texts in each language beside
    English, from PROGRAM_TEXTS; a Refusal when one is missing or breaks the
    rules of a description's translated texts."""
    parser = configparser.ConfigParser(interpolation=None, default_section="\n")
    parser.optionxform = str
    try:
        with open(PROGRAM_TEXTS, encoding="utf-8") as f:
            parser.read_file(f)
    except (OSError, UnicodeDecodeError, configparser.Error) as error:
        raise Refusal("%s: cannot be read: %s" % (PROGRAM_TEXTS, error))
    lines = field_lines(PROGRAM_TEXTS)
    names = [name for name in LOCAL_TEXT_IDS if name not in TRANSLATED]
    texts, faults = {}, []
    for section in parser.sections():
        if section not in LANGUAGES:
            faults.append("%s:%d: [%s]: unknown language tag; known: %s"
                          % (PROGRAM_TEXTS, lines[(section, "")], section, ", ".join(sorted(LANGUAGES))))
    for tag in LANGUAGES:
        for name in names:
            value = parser.get(tag, name, fallback="").strip()
            fault = "missing" if not value else translation_fault(value, DIALOG_TEXT_LIMIT)
            if fault:
                where = lines.get((tag, name))
                faults.append("%s%s: [%s] %s: %s" % (PROGRAM_TEXTS, ":%d" % where if where else "", tag, name, fault))
            texts[(name, tag)] = value
    if faults:
        raise Refusal("\n".join(faults))
    return texts


def manifest(d):
    """The module's manifest: its identity named after its quorin.inf section
    (letters and digits only, as an assembly name takes them), its file
    version and its uninstall entry's name."""
    name = "".join(c for c in d.strings["FileDescription"] if c.isalnum()) or \
        "".join(c for c in d.name if c.isalnum())
    escaped = d.strings["Comments"].replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    return MANIFEST % {"name": "Quorin.%s.Setup" % name,
                       "version": ".".join(str(n) for n in d.numbers["FileVersionNumber"]),
                       "description": escaped}


def rc_string(text):
    return '"%s"' % text.replace('"', '""')


def rc_wide_string(text):
    """A UTF-16 string of the resource compiler: printable ASCII as it is,
    every other character as an escape of exactly four hex digits."""
    return 'L"%s"' % "".join(c if " " <= c <= "~" and c not in '"\\' else "\\x%04x" % ord(c) for c in text)


def module_rc(d):
    v = d.strings
    lines = [
        "// Generated by res/make_module.py from %s.ini: edit the description, not this file." % d.name,
        '#include "setup.rc"',
        "",
        "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US",
        "",
        "1 RT_MANIFEST \"setup.manifest\"",
        "",
        "103 ICON \"setup.ico\"",
        "",
        "VS_VERSION_INFO VERSIONINFO",
        " FILEVERSION %d,%d,%d,%d" % tuple(d.numbers["FileVersionNumber"]),
        " PRODUCTVERSION %d,%d,%d,%d" % tuple(d.numbers["ProductVersionNumber"]),
        " FILEFLAGSMASK VS_FFI_FILEFLAGSMASK",
        " FILEFLAGS 0",
        " FILEOS VOS__WINDOWS32",
        " FILETYPE VFT_APP",
        " FILESUBTYPE VFT2_UNKNOWN",
        "BEGIN",
        '    BLOCK "StringFileInfo"',
        "    BEGIN",
        '        BLOCK "040904b0"',
        "        BEGIN",
        '            VALUE "CompanyName", "Brenmor Software"',
        '            VALUE "FileDescription", %s' % rc_string(v["FileDescription"]),
        '            VALUE "FileVersion", %s' % rc_string(v["FileVersion"]),
        '            VALUE "InternalName", "setup"',
        '            VALUE "OriginalFilename", "setup.exe"',
        '            VALUE "ProductName", %s' % rc_string(v["ProductName"]),
        '            VALUE "ProductVersion", %s' % rc_string(v["ProductVersion"]),
        '            VALUE "Comments", %s' % rc_string(v["Comments"]),
        "        END",
        "    END",
        '    BLOCK "VarFileInfo"',
        "    BEGIN",
        '        VALUE "Translation", 0x0409, 0x04B0',
        "    END",
        "END",
        "",
        "STRINGTABLE",
        "BEGIN",
    ]
    lines += ["    %d, %s" % (STRING_IDS[key], rc_string(d.texts[key])) for key in DIALOG_TEXTS]
    # The other languages, every text in each: the program's own, and the
    # module's failure text in the language the description gives it in,
    # else in English, so that the program looks once.
    texts = dict(d.program_texts)
    for tag in LANGUAGES:
        texts[("Failure", tag)] = d.translations.get(("Failure", tag), d.texts["Failure"])
    for tag, offset in sorted(LANGUAGES.items(), key=lambda item: item[1]):
        lines += ["    %d, %s" % (LOCAL_TEXT_IDS[name] + offset, rc_wide_string(texts[(name, tag)]))
                  for name in LOCAL_TEXT_IDS]
    lines += [
        "END",
        "",
        "%d RCDATA" % MESSAGE_IDS_RESOURCE,
        "BEGIN",
        "    " + ", ".join("%dL" % d.messages[key] for key in MESSAGE_IDS),
        "END",
        "",
        "%d RCDATA \"quorin.crc\"" % CHECKSUM_RESOURCE,
        "",
        "LANGUAGE LANG_RUSSIAN, SUBLANG_DEFAULT",
        "102 ZIP \"quorin.zip\"",
        "",
    ]
    return "\n".join(lines)


def write_if_changed(path, data):
    """Keeps an unchanged file's time, so the build does not redo its work."""
    try:
        if open(path, "rb").read() == data:
            return
    except OSError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def build(description, out_dir, depfile):
    os.makedirs(out_dir, exist_ok=True)
    write_if_changed(os.path.join(out_dir, "setup.ico"), description.icon)
    write_if_changed(os.path.join(out_dir, "setup.manifest"), manifest(description).encode("ascii"))
    archive = os.path.join(out_dir, "quorin.zip")
    make_payload.write_archive(archive, description.archive_entries(), description.payload_time)
    make_payload.write_checksum(archive)
    # module.rc last: the build's rule treats it as the sign of a finished run.
    write_if_changed(os.path.join(out_dir, "module.rc"), module_rc(description).encode("ascii"))
    if depfile:
        inputs = [description.path, PROGRAM_TEXTS] + [s for _, s in description.payload if isinstance(s, str)]
        # The folder itself too: a file added to it or taken out changes its time.
        if description.parser.has_option("payload", "folder"):
            inputs.append(os.path.join(os.path.dirname(description.path),
                                       description.parser.get("payload", "folder").strip()))
        if description.parser.has_option("icon", "file"):
            inputs.append(os.path.join(os.path.dirname(description.path), description.parser.get("icon", "file").strip()))
        escaped = " ".join(os.path.abspath(p).replace(" ", "\\ ") for p in inputs)
        with open(depfile, "w") as f:
            f.write("%s: %s\n" % (os.path.join(out_dir, "module.rc"), escaped))


def main(argv):
    args = argv[1:]
    depfile = None
    if "--depfile" in args:
        at = args.index("--depfile")
        depfile = args[at + 1] if at + 1 < len(args) else None
        del args[at:at + 2]
    mode = args[0] if args[:1] in (["--check"], ["--product"]) else None
    if mode:
        args = args[1:]
    if len(args) != (1 if mode else 2):
        sys.stderr.write(__doc__)
        return 2
    try:
        description = Description(args[0], package=mode == "--check")
    except Refusal as refusal:
        sys.stderr.write("%s\nrefused: nothing was built\n" % refusal)
        return 1
    if mode == "--product":
        if description.product is None:
            sys.stderr.write("%s: [product]: missing: what the product's quorin.inf holds for the module "
                             "(TitleE, Language, Letter)\n" % description.path)
            return 1
        p = description.product
        values = [description.strings["FileDescription"], p["TitleE"], p["Language"], p["Letter"]]
        print("\n".join(values + [name.lower() for name, _ in description.payload]))
    elif not mode:
        build(description, args[1], depfile)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
