#!/usr/bin/env python3
"""Checks the shipped setup.exe as a file: a 32-bit GUI program without a
link timestamp, importing only DLLs every Windows has, carrying exactly the
resources the product relies on (version identity, setup dialog 105, icon
group 103, the payload archive and its checksum, the texts in each language
the program speaks, the manifest with the
module's identity, the elevation request, the visual style of Common
Controls 6 and the awareness of each monitor's DPI), its sections laid out
whole in the file behind headers of one 512-byte block, its checksum right.

usage: check_pe.py SETUP.EXE PAYLOAD.ZIP [MODULE.ini]
(without a description, the German module's identity is expected)
"""
import configparser
import os
import re
import struct
import sys
import zlib

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


class Pe:
    def __init__(self, data):
        self.data = data
        pe = u32(data, 0x3C)
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, sections, self.timestamp = struct.unpack_from("<HHI", data, pe + 4)
        optional_size = u16(data, pe + 20)
        optional = pe + 24
        self.magic = u16(data, optional)
        self.subsystem = u16(data, optional + 68)
        self.dll_characteristics = u16(data, optional + 70)
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        self.raw = []  # (file offset, size) of each section's data
        self.pe = pe
        self.checksum_at = optional + 64
        self.checksum, self.size_of_headers = struct.unpack_from("<II", data, optional + 64)[0], \
            struct.unpack_from("<I", data, optional + 60)[0]
        table = optional + optional_size
        self.contents = []  # (address, size) of what each section holds in the file
        for i in range(sections):
            at = table + 40 * i
            vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((vaddr, max(vsize, rsize), raw))
            self.raw.append((raw, rsize))
            self.contents.append((vaddr, min(vsize, rsize)))

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("rva %x outside sections" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def in_contents(self, rva, size=1):
        return any(vaddr <= rva and rva + size <= vaddr + length for vaddr, length in self.contents)

    def imports(self):
        """[(DLL, lookup table's address or 0, [function names])]. Without a
        lookup table (OriginalFirstThunk 0) the names are read from the
        import address table, as the loader reads them."""
        rva, size = self.directories[1]
        entry, flag = (4, 1 << 31) if self.magic == 0x10B else (8, 1 << 63)
        found, at = [], self.offset(rva)
        while True:
            lookup, _, _, name_rva, address = struct.unpack_from("<5I", self.data, at)
            if name_rva == 0:
                return found
            functions, thunk = [], lookup or address
            while True:
                value = struct.unpack_from("<I" if entry == 4 else "<Q", self.data, self.offset(thunk))[0]
                if value == 0:
                    break
                if value & flag:
                    functions.append("#%d" % (value & 0xFFFF))
                elif self.in_contents(value + 2):
                    functions.append(self.cstring(value + 2))
                else:
                    functions.append(None)
                thunk += entry
            found.append((self.cstring(name_rva), lookup, functions))
            at += 20

    def resources(self):
        """{(type, name, language): bytes}; ids as ints, names as str."""
        base_rva, _ = self.directories[2]
        base = self.offset(base_rva)
        found = {}

        def label(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                length = u16(self.data, at)
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return entry_name

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                entry_name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                key = path + (label(entry_name),)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(rva)
                    found[key] = self.data[start:start + size]

        walk(base, ())
        return found


def image_checksum(data, field):
    """The PE checksum: 16-bit words summed with end-around carry, the
    checksum field read as 0, plus the file's length."""
    words = bytes(data[:field]) + b"\0\0\0\0" + bytes(data[field + 4:])
    if len(words) % 2:
        words += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16)) + len(data)


def utf16(text):
    return text.encode("utf-16-le")


def version_strings(block):
    """The String entries of a VS_VERSIONINFO block, as {key: value}."""
    strings = {}

    def walk(at, end):
        while at + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", block, at)
            if length == 0:
                return
            key_end = block.index(b"\0\0", at + 6)
            while (key_end - at) % 2:
                key_end = block.index(b"\0\0", key_end + 1)
            key = block[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            if kind == 1 and value_length:
                value = block[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
                strings[key] = value
                children = value_at + 2 * value_length
            else:
                children = value_at + value_length
            if key in ("VS_VERSION_INFO", "StringFileInfo", "VarFileInfo") or len(key) == 8 and kind == 1 \
                    and not value_length:
                walk((children + 3) & ~3, at + length)
            at = (at + length + 3) & ~3

    walk(0, len(block))
    return strings


def dialog_template(data):
    style, ex_style, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    at = 18

    def sz_or_ord(at):
        if u16(data, at) == 0xFFFF:
            return u16(data, at + 2), at + 4
        end = at
        while u16(data, end):
            end += 2
        return data[at:end].decode("utf-16-le"), end + 2

    menu, at = sz_or_ord(at)
    klass, at = sz_or_ord(at)
    title, at = sz_or_ord(at)
    point = u16(data, at)
    face, at = sz_or_ord(at + 2)
    items = []
    for _ in range(count):
        at = (at + 3) & ~3
        i_style, i_ex, ix, iy, icx, icy, ident = struct.unpack_from("<IIhhhhH", data, at)
        i_class, at = sz_or_ord(at + 18)
        i_title, at = sz_or_ord(at)
        extra = u16(data, at)
        at += 2 + extra
        items.append((i_class, ident, (ix, iy, icx, icy), i_style, i_ex, i_title))
    return dict(style=style, ex_style=ex_style, rect=(x, y, cx, cy), menu=menu, klass=klass, title=title,
                point=point, face=face, items=items)


def expected_module(description):
    """Version strings and numbers, dialog texts, message ids and the
    manifest's identity (name, version, description): the German module's
    unless a description file is given."""
    if description is None:
        return ({"FileDescription": "German Dictionary", "Comments": "Quorin German Dictionary",
                 "ProductName": "Quorin", "FileVersion": "1.0", "ProductVersion": "3.0"},
                (0x10000, 1, 0x10000, 1),
                ["German Dictionary Setup", "Click Start button to installation Quorin German Dictionary.",
                 "Quorin German Dictionary has been installed successfully.",
                 "Quorin German Dictionary was not installed completely. Run this setup again; if it fails "
                 "again, run it with /log=PATH to see why."],
                (1289, 364, 291, 1297),
                ("Quorin.GermanDictionary.Setup", "1.0.0.1", "Quorin German Dictionary"))
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(description)
    version, dialog = parser["version"], parser["dialog"]
    strings = {k: version[k] for k in ("FileDescription", "Comments", "ProductName", "FileVersion", "ProductVersion")}
    numbers = []
    for key in ("FileVersionNumber", "ProductVersionNumber"):
        a, b, c, d = (int(p) for p in version[key].replace(".", ",").split(","))
        numbers += [(a << 16) | b, (c << 16) | d]
    texts = [dialog[k] for k in ("Caption", "Invitation", "Success", "Failure")]
    ids = tuple(int(dialog[k]) for k in ("InvitationMessage", "StartMessage", "CancelMessage", "SuccessMessage"))
    identity = ("Quorin.%s.Setup" % "".join(c for c in strings["FileDescription"] if c.isalnum()),
                "%d.%d.%d.%d" % (numbers[0] >> 16, numbers[0] & 0xFFFF, numbers[1] >> 16, numbers[1] & 0xFFFF),
                strings["Comments"].replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;"))
    return strings, tuple(numbers), texts, ids, identity


ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Where each language's texts stand: the string table block and the entry in
# it of the failure text, followed by the program's own busy, restart and
# no-product texts (whose English stands in the program, not in block 1).
# Block 2 holds ids 16 to 31, block 3 ids 32 to 47.
LANGUAGE_ENTRIES = {"de": (2, 4), "fr": (2, 12), "ru": (3, 4), "uk": (3, 12)}
TRANSLATION_BLOCKS = (2, 3)
PROGRAM_TEXTS = ("Busy", "Restart", "NoProduct")


def read_ini(path):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    return parser


def expected_translations(description):
    """{block: its sixteen texts} of the languages beside English: from each
    language's first entry on, the module's failure text in that language
    (its English where the description gives none) and the program's own
    texts; the rest are empty."""
    dialog = read_ini(description or os.path.join(ROOT, "modules", "german.ini"))["dialog"]
    program = read_ini(os.path.join(ROOT, "res", "program_texts.ini"))
    blocks = {block: [""] * 16 for block in TRANSLATION_BLOCKS}
    for tag, (block, first) in LANGUAGE_ENTRIES.items():
        texts = blocks[block]
        texts[first] = dialog.get("Failure." + tag, dialog["Failure"]).strip()
        for at, name in enumerate(PROGRAM_TEXTS, first + 1):
            texts[at] = program[tag][name].strip()
    return blocks


def string_table_block(block):
    """The sixteen strings of one string table block."""
    strings, at = [], 0
    for _ in range(16):
        length = u16(block, at)
        strings.append(block[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
        at += 2 + 2 * length
    return strings


def main():
    exe, payload_path = sys.argv[1], sys.argv[2]
    expected_strings, expected_numbers, expected_texts, expected_ids, expected_identity = expected_module(
        sys.argv[3] if len(sys.argv) > 3 else None)
    data = open(exe, "rb").read()
    pe = Pe(data)
    check(pe.machine == 0x14C and pe.magic == 0x10B, "a 32-bit i386 program")
    check(pe.subsystem == 2, "the Windows GUI subsystem")
    check(pe.timestamp == 0, "no link timestamp (reproducible builds)")

    # The headers take one 512-byte block (the PE header right behind the
    # DOS header), and every section's data lies whole in the file, the
    # first right behind them: a packing that moved a section wrongly, or
    # left the old checksum, is caught here before Windows refuses the file.
    check(pe.size_of_headers == 0x200 and pe.pe == 0x40, "headers in one block (SizeOfHeaders %#x, PE header at %#x)"
          % (pe.size_of_headers, pe.pe))
    laid = sorted(r for r in pe.raw if r[1])
    check(laid and laid[0][0] == pe.size_of_headers, "first section right behind the headers")
    check(all(a[0] + a[1] == b[0] for a, b in zip(laid, laid[1:])) and laid[-1][0] + laid[-1][1] == len(data),
          "sections back to back to the end of the file: %s" % [(hex(a), hex(b)) for a, b in laid])
    check(pe.checksum == image_checksum(data, pe.checksum_at), "image checksum %#x matches the file" % pe.checksum)

    # ASLR (0x40), DEP (0x100), and Terminal Server aware (0x8000), so that a
    # Remote Desktop host gives the program the real Windows directory.
    for flag, what in ((0x40, "ASLR"), (0x100, "DEP"), (0x8000, "Terminal Server aware")):
        check(pe.dll_characteristics & flag, "marked %s (DllCharacteristics %#x)" % (what, pe.dll_characteristics))

    # Only DLLs that Windows always takes from its own folder (known DLLs):
    # anything else would be searched for beside the program first.
    known = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "msvcrt.dll"}
    imported = pe.imports()
    imports = {name.lower() for name, _, _ in imported}
    check(imports <= known, "imports only known system DLLs, got %s" % sorted(imports - known))
    # The import lookup tables are cut off after linking (only a bound
    # program needs them): the loader reads every name from the import
    # address table, which must then hold each one whole inside the file.
    check(imported and all(lookup == 0 for _, lookup, _ in imported),
          "no import lookup tables (OriginalFirstThunk 0 in every descriptor)")
    for name, _, functions in imported:
        check(functions and all(f and re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", f) for f in functions),
              "every import from %s named in the file: %s" % (name, functions))

    res = pe.resources()
    payload = open(payload_path, "rb").read()
    check(res.get(("ZIP", 102, 1049)) == payload, "payload: type \"ZIP\", id 102, language 1049, the archive")
    check(res.get((10, 107, 0x409)) == struct.pack("<I", zlib.crc32(payload)),
          "the payload's CRC-32 in RCDATA 107, four bytes little endian")

    versions = [v for k, v in res.items() if k[0] == 16]
    check(len(versions) == 1, "one version resource")
    if versions:
        block = versions[0]
        strings = version_strings(block)
        for key, value in expected_strings.items():
            check(strings.get(key) == value, "version %s = %r, got %r" % (key, value, strings.get(key)))
        check(utf16("040904b0") in block and block.count(utf16("StringFileInfo")) == 1,
              "one string block 040904b0")
        translation = block.index(utf16("Translation"))
        check(b"\x09\x04\xb0\x04" in block[translation:translation + 40], "translation pair 0x0409, 0x04B0")
        fixed = block.index(struct.pack("<I", 0xFEEF04BD))
        fields = struct.unpack_from("<13I", block, fixed)
        check(fields[2:6] == expected_numbers, "file and product version numbers %s" % (fields[2:6],))
        check(fields[8] == 4 and fields[9] == 1, "a Windows application (VOS__WINDOWS32, VFT_APP)")

    dialog = res.get((5, 105, 0x409))
    check(dialog is not None, "dialog 105 in English (United States)")
    if dialog:
        d = dialog_template(dialog)
        check(d["style"] == 0x90C808C4 and d["ex_style"] == 0, "dialog style 0x90C808C4, extended 0")
        check(d["rect"] == (0, 0, 210, 50), "dialog at 0,0 sized 210 x 50")
        check(d["menu"] == "" and d["klass"] == "" and d["title"] == "", "no menu, no class, empty caption")
        check(d["point"] == 8 and d["face"] == "MS Sans Serif", "font 8 point MS Sans Serif")
        expected = [(0x80, 1, (100, 31, 50, 14), 0x50010001, 0, "Start"),
                    (0x80, 2, (153, 31, 50, 14), 0x50010000, 0, "Cancel"),
                    (0x82, 1000, (7, 7, 196, 18), 0x50020100, 0, "")]
        check(d["items"] == expected, "controls Start, Cancel, text: %s" % d["items"])

    # The dialog's caption and English texts (string table entries 1 to 4,
    # block 1) and the message library's ids (RCDATA 106).
    table = res.get((6, 1, 0x409))
    check(table is not None and string_table_block(table)[1:5] == expected_texts,
          "dialog texts in string table entries 1 to 4")
    check(table is not None and not any(string_table_block(table)[5:8]),
          "string table entries 5 to 7 empty (the program's own English texts stand in its code)")
    # The other languages' blocks: what the program shows for ids 4 to 7 on a
    # Windows of each display language.
    for block, texts in expected_translations(sys.argv[3] if len(sys.argv) > 3 else None).items():
        table = res.get((6, block, 0x409))
        check(table is not None and string_table_block(table) == texts,
              "string table block %d: %s, got %s" % (block, texts, table and string_table_block(table)))
    check(sorted(k[1] for k in res if k[0] == 6) == [1] + list(TRANSLATION_BLOCKS),
          "string table blocks 1 (English), 2 and 3 (the others)")
    ids = res.get((10, 106, 0x409))
    check(ids is not None and len(ids) == 16 and struct.unpack("<4I", ids) == expected_ids,
          "message ids %s in RCDATA 106" % (expected_ids,))

    group = res.get((14, 103, 0x409))
    check(group is not None, "icon group 103")
    if group:
        count = u16(group, 4)
        entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
        check(sorted((e[0], e[1], e[2], e[5]) for e in entries) == [(16, 16, 16, 4), (32, 32, 16, 4)],
              "two 16-colour icons, 32 x 32 and 16 x 16: %s" % entries)

    manifests = [v for k, v in res.items() if k[0] == 24]
    check(len(manifests) == 1 and b'level="requireAdministrator"' in manifests[0],
          "a manifest asking for administrator rights")
    check(len(manifests) == 1 and b"supportedOS" in manifests[0], "a manifest declaring supported Windows")
    if len(manifests) == 1:
        text = manifests[0].decode("ascii")
        identity = re.search(r'<assemblyIdentity type="win32" name="([^"]*)" version="([^"]*)"', text)
        description = re.search(r"<description>([^<]*)</description>", text)
        found = (identity.group(1), identity.group(2), description.group(1)) if identity and description else None
        check(found == expected_identity, "manifest identity %s, got %s" % (expected_identity, found))
        # The visual style: a dependency on Common Controls 6 that binds on
        # any architecture (the i686 and the x86_64 build share the text).
        controls = re.search(r'<dependency><dependentAssembly><assemblyIdentity type="win32" '
                             r'name="Microsoft\.Windows\.Common-Controls" ([^/]*)/></dependentAssembly></dependency>',
                             text)
        attributes = dict(re.findall(r'(\w+)="([^"]*)"', controls.group(1))) if controls else {}
        check(attributes == {"version": "6.0.0.0", "processorArchitecture": "*",
                             "publicKeyToken": "6595b64144ccf1df", "language": "*"},
              "a dependency on Common Controls 6.0.0.0, token 6595b64144ccf1df, got %s" % attributes)
        # Both DPI declarations, each in its own namespace inside
        # windowsSettings: a wrong namespace is ignored by Windows silently.
        settings = re.search(r'<application xmlns="urn:schemas-microsoft-com:asm\.v3"><windowsSettings>(.*)'
                             r'</windowsSettings></application>', text)
        settings = settings.group(1) if settings else ""
        check('<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/PM</dpiAware>' in settings,
              "dpiAware true/PM in the 2005 WindowsSettings namespace")
        check('<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2</dpiAwareness>'
              in settings, "dpiAwareness PerMonitorV2 in the 2016 WindowsSettings namespace")
        try:
            import xml.dom.minidom
            xml.dom.minidom.parseString(manifests[0])
        except Exception as error:  # noqa: BLE001 - any parse error is the finding
            failures.append("manifest is well-formed XML: %s" % error)

    for failure in failures:
        print("FAILED:", failure)
    print("%s: %d bytes, payload %d bytes; %d checks failed" % (exe, len(data), len(payload), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
