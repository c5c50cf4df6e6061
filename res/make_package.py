#!/usr/bin/env python3
"""Turns a module's description into its Windows Installer package: the
package's source (a .wxs), then the package itself with wixl and msibuild
(both of msitools):

    make_package.py DESCRIPTION.ini SETUP.exe ACTION.dll x86|x64 WORK_DIR OUT.msi

The package installs setup.exe as its one file, in a folder of its own
under Program Files, and runs it from the custom action in ACTION.dll
(package/module_action.cpp): "in" after the file is in place (install,
repair, the later version of an upgrade), "un" before it is removed. The
source and the module's icon (for the installed-programs entry) are
written into WORK_DIR; OUT is written whole or not at all. Without the
product the package refuses to install with the program's no-product text,
in the user's language where the program speaks it.

Everything that must stay the same from build to build is derived from
the module's name, never stored: the upgrade code from its quorin.inf
section, so that every version of a module shares it and two modules never
do; the product code from the section and the version as Windows Installer
compares it (its first three fields); the component's GUID likewise.
"""

import datetime
import hashlib
import os
import re
import shutil
import subprocess
import sys
import uuid
from xml.sax.saxutils import escape, quoteattr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_module  # noqa: E402

# Every name-based GUID of every module's package lies in this namespace:
# changing it would orphan every package ever installed.
NAMESPACE = uuid.UUID("8a2f39d4-0bd0-4eab-9bcb-cd720562e235")

MANUFACTURER = "Brenmor Software"
OPTIONS_KEY = r"Software\Brenmor Software\Quorin\Options"
NO_PRODUCT = "Quorin was not found on this computer. Install Quorin first, then run this setup again."

# The no-product text in the user's language. Windows Installer formats a
# launch condition's message before it shows it, so the message names a
# property: the Property table gives it the English text, and one action per
# language (type 51, a property set to a formatted text) gives it that
# language's text before the launch conditions are checked. The actions run
# in both sequences, since a full-UI install checks the conditions in the UI
# sequence and a basic-UI or silent one in the execute sequence only; their
# sequence numbers lie before LaunchConditions (100). The property is
# private (mixed case), so that no command line can set it.
NO_PRODUCT_PROPERTY = "NoProductText"
NO_PRODUCT_SEQUENCE = 60
# Windows' primary language id of each language the program speaks beside
# English (make_module.LANGUAGES): LANG_GERMAN, LANG_FRENCH, LANG_RUSSIAN,
# LANG_UKRAINIAN.
PRIMARY_LANGUAGES = {"de": 0x07, "fr": 0x0C, "ru": 0x19, "uk": 0x22}
# wixl writes a database whose strings have no code page of their own (0:
# the installing machine's ANSI code page), converting each string with a
# code page it guesses from the build machine's locale and dropping one that
# code page cannot hold (Cyrillic under a Western guess). So it is given the
# English text only; msibuild then sets the database's code page to UTF-8,
# the one that holds German, French, Russian and Ukrainian together, and
# puts the translations in. The summary information keeps its own code page,
# 1252: its texts are ASCII, and Windows Installer takes no UTF-8 there.
CODEPAGE_IDT = "\r\n\r\n65001\t_ForceCodepage\r\n"


def guid(kind, *parts):
    return "{%s}" % str(uuid.uuid5(NAMESPACE, "\n".join((kind,) + parts))).upper()


def identity(description):
    """Upgrade code, product code and component GUID of a module's package,
    and its product version; a version Windows Installer cannot hold is a
    Refusal."""
    section = description.strings["FileDescription"]
    numbers = description.numbers["FileVersionNumber"]
    fault = make_module.package_version_fault(numbers)
    if fault:
        raise make_module.Refusal("%s: [version] FileVersionNumber: %s" % (description.path, fault))
    compared = ".".join(str(n) for n in numbers[:3])
    return {
        "upgrade": guid("upgrade", section),
        "product": guid("product", section, compared),
        "component": guid("component", section, "setup.exe"),
        "version": ".".join(str(n) for n in numbers),
    }


def user_language_is(primary):
    """A condition true when the user's language (UserLanguageID, a Windows
    language id) has the primary language primary, its low ten bits, from
    whatever country (Swiss German 2055 as German 1031). Conditions know no
    arithmetic, but "><" of two numbers is true when they share a bit: every
    bit of primary is set, and none of the other low ten. Without the
    property no language matches."""
    bits = ["UserLanguageID >< %d" % (1 << bit) for bit in range(10) if primary >> bit & 1]
    return " AND ".join(bits + ["NOT (UserLanguageID >< %d)" % (0x3FF & ~primary)])


def formatted_literal(text):
    """text as a formatted field shows it: [ ] { } escaped."""
    return re.sub(r"[\[\]{}]", lambda found: "[\\%s]" % found.group(0), text)


def no_product_texts(description):
    """{tag: the no-product text} for each language beside English, from the
    program's own texts; a Refusal when the package could not carry one."""
    if set(PRIMARY_LANGUAGES) != set(make_module.LANGUAGES):
        raise make_module.Refusal("make_package.py: PRIMARY_LANGUAGES names %s, the program speaks %s"
                                  % (", ".join(sorted(PRIMARY_LANGUAGES)), ", ".join(sorted(make_module.LANGUAGES))))
    texts = {tag: description.program_texts[("NoProduct", tag)] for tag in sorted(PRIMARY_LANGUAGES)}
    for tag, text in texts.items():
        # msibuild's SQL takes a text between single quotes, with no escape
        # for one inside it (typographic apostrophes are fine).
        if "'" in text:
            raise make_module.Refusal("%s: [%s] NoProduct: no ' (U+0027) in a text the package carries; write ’"
                                      % (make_module.PROGRAM_TEXTS, tag))
    return texts


def translation_queries(description):
    """The msibuild queries that put each language's no-product text into
    its action."""
    return ["UPDATE `CustomAction` SET `Target` = '%s' WHERE `Action` = '%s.%s'"
            % (formatted_literal(text), NO_PRODUCT_PROPERTY, tag)
            for tag, text in no_product_texts(description).items()]


def package_source(description, setup, action, arch, icon):
    title = description.strings["Comments"]
    ids = identity(description)
    win64 = "yes" if arch == "x64" else "no"
    program_files = "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder"
    # The product's own check, as the setup makes it: the Options key names
    # the product folder (DefaultPath, else RemotePath), and the folder is
    # there. A search of type "directory" finds a value only when the
    # folder it names exists.
    searches = "".join(
        """
    <Property Id="%s">
      <RegistrySearch Id="%sSearch" Root="HKLM" Key=%s Name="%s" Type="directory" Win64="%s"/>
    </Property>""" % (prop, name, quoteattr(OPTIONS_KEY), name, win64)
        for prop, name in (("QUORINDEFAULTPATH", "DefaultPath"), ("QUORINREMOTEPATH", "RemotePath")))
    product_found = "(QUORINDEFAULTPATH OR QUORINREMOTEPATH)"
    # "un" runs only where the product still is (its setup would fail on a
    # machine without it, and there is nothing left to unregister), and only
    # for a removal of the whole package (REMOVE=ALL), never while a later
    # version's package removes this one: the later version runs "in", and
    # "un" would take the module away in between. Windows marks that removal
    # with UPGRADINGPRODUCTCODE; Wine does not, but passes on the features
    # that the later package's Upgrade table names for removal: the build
    # names "Module", the package's one feature (REMOVE_BY_FEATURE below),
    # so REMOVE is then "Module", not "ALL". Neither action runs for such a
    # removal: "in" runs only while nothing is being removed.
    remove = 'REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE AND %s' % product_found
    english = quoteattr(formatted_literal(NO_PRODUCT))
    language_actions = "".join(
        """
    <CustomAction Id="%s.%s" Property="%s" Value=%s Impersonate="yes"/>"""
        % (NO_PRODUCT_PROPERTY, tag, NO_PRODUCT_PROPERTY, english) for tag in sorted(PRIMARY_LANGUAGES))
    language_steps = "".join(
        """
      <Custom Action="%s.%s" Sequence="%d">%s</Custom>"""
        % (NO_PRODUCT_PROPERTY, tag, NO_PRODUCT_SEQUENCE + at, escape(user_language_is(PRIMARY_LANGUAGES[tag])))
        for at, tag in enumerate(sorted(PRIMARY_LANGUAGES)))
    return """<?xml version="1.0" encoding="utf-8"?>
<!-- Generated by res/make_package.py from %(name)s.ini: edit the description, not this file. -->
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="%(product)s" UpgradeCode="%(upgrade)s" Name=%(title)s Version="%(version)s"
           Manufacturer="%(manufacturer)s" Language="1033" Codepage="1252">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"
             Manufacturer="%(manufacturer)s" Description=%(title)s/>
    <Media Id="1" Cabinet="module.cab" EmbedCab="yes"/>
    <MajorUpgrade DowngradeErrorMessage=%(downgrade)s/>
%(searches)s
    <Property Id="%(no_product_property)s" Value=%(no_product)s/>
    <Condition Message="[%(no_product_property)s]">Installed OR %(product_found)s</Condition>
    <!-- The user's language's text, put in by msibuild after wixl: the
         English one stands here until then. -->%(language_actions)s
    <InstallUISequence>%(language_steps)s
    </InstallUISequence>

    <Icon Id="module.ico" SourceFile=%(icon)s/>
    <Property Id="ARPPRODUCTICON" Value="module.ico"/>
    <Property Id="ARPNOMODIFY" Value="1"/>

    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="%(program_files)s">
        <Directory Id="MakerFolder" Name="%(manufacturer)s">
          <Directory Id="INSTALLDIR" Name=%(title)s>
            <Component Id="SetupProgram" Guid="%(component)s" Win64="%(win64)s">
              <File Id="SetupExe" Name="setup.exe" Source=%(setup)s KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Module" Level="1" Title=%(title)s>
      <ComponentRef Id="SetupProgram"/>
    </Feature>

    <Binary Id="ModuleAction" SourceFile=%(action)s/>
    <!-- A deferred action reads only CustomActionData: the property of its
         own name, set here while the installed path is known. -->
    <CustomAction Id="SetInstallModule" Property="InstallModule" Value="[#SetupExe]"/>
    <CustomAction Id="SetRemoveModule" Property="RemoveModule" Value="[#SetupExe]"/>
    <CustomAction Id="InstallModule" BinaryKey="ModuleAction" DllEntry="InstallModule"
                  Execute="deferred" Impersonate="no" Return="check"/>
    <CustomAction Id="RemoveModule" BinaryKey="ModuleAction" DllEntry="RemoveModule"
                  Execute="deferred" Impersonate="no" Return="check"/>
    <!-- Numbers, not Before/After, which wixl places at the start of the
         sequence: the data between InstallValidate (1400) and
         InstallInitialize (1500), "un" before RemoveFiles (3500), "in"
         after InstallFiles (4000). -->
    <InstallExecuteSequence>%(language_steps)s
      <!-- The earlier version goes inside this package's transaction (after
           InstallInitialize), so that a failed install brings it back, and
           before this one registers: Wine's removal of the earlier version
           deletes the upgrade code's whole registration, which this package
           then writes anew. -->
      <RemoveExistingProducts Sequence="1510"/>
      <Custom Action="SetInstallModule" Sequence="1450">NOT REMOVE</Custom>
      <Custom Action="SetRemoveModule" Sequence="1460">%(remove)s</Custom>
      <Custom Action="RemoveModule" Sequence="3450">%(remove)s</Custom>
      <Custom Action="InstallModule" Sequence="4050">NOT REMOVE</Custom>
    </InstallExecuteSequence>
  </Product>
</Wix>
""" % dict(ids, name=description.name, title=quoteattr(title), manufacturer=MANUFACTURER, arch=arch,
           win64=win64, program_files=program_files, searches=searches, product_found=product_found,
           remove=escape(remove), no_product=english, no_product_property=NO_PRODUCT_PROPERTY,
           language_actions=language_actions, language_steps=language_steps,
           downgrade=quoteattr("A later version of %s is already installed." % title),
           icon=quoteattr(icon), setup=quoteattr(setup), action=quoteattr(action))


# The earlier version is removed by naming the package's one feature rather
# than ALL, which wixl's MajorUpgrade leaves the Upgrade table to mean: see
# the "un" condition above.
REMOVE_BY_FEATURE = ("UPDATE `Upgrade` SET `Remove` = 'Module' "
                     "WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")


def build(description, setup, action, arch, work, out):
    """Writes work/package.wxs, work/module.ico and a copy of setup.exe, and
    out with wixl and msibuild run in work. The package code is derived from everything the
    package holds, so that equal packages share it and different ones never
    do; wixl would draw a random one. wixl also stamps the summary's times
    with the clock: with SOURCE_DATE_EPOCH set it runs under faketime at that
    time, so that two builds are byte-identical."""
    os.makedirs(work, exist_ok=True)
    make_module.write_if_changed(os.path.join(work, "module.ico"), description.icon)
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch is not None and not epoch.isdigit():
        raise make_module.Refusal("SOURCE_DATE_EPOCH is not a number of seconds: %s" % epoch)
    # The cabinet keeps each file's modification time: the copy wixl packs
    # carries SOURCE_DATE_EPOCH where it is set, else the program's own.
    packed = os.path.join(work, "setup.exe")
    shutil.copy2(setup, packed)
    if epoch:
        os.utime(packed, (int(epoch), int(epoch)))
    # wixl takes files by paths relative to where it runs.
    source = package_source(description, "setup.exe", os.path.relpath(action, work), arch,
                            "module.ico").encode("utf-8")
    make_module.write_if_changed(os.path.join(work, "package.wxs"), source)
    queries = translation_queries(description)
    make_module.write_if_changed(os.path.join(work, "codepage.idt"), CODEPAGE_IDT.encode("ascii"))
    digest = hashlib.sha256(source)
    for query in queries:
        digest.update(query.encode("utf-8"))
    for path in (packed, action, os.path.join(work, "module.ico")):
        with open(path, "rb") as f:
            digest.update(f.read())
    package_code = guid("package", digest.hexdigest())

    clock = []
    if epoch:
        if not shutil.which("faketime"):
            raise make_module.Refusal("SOURCE_DATE_EPOCH is set, but faketime, which gives wixl that time, "
                                      "is missing (scripts/install-deps installs it)")
        when = datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc)
        clock = ["faketime", "-f", when.strftime("@%Y-%m-%d %H:%M:%S")]
    partial = out + ".partial"
    steps = [
        ("wixl", clock + ["wixl", "-a", arch, "-o", partial, "package.wxs"]),
        ("msibuild", ["msibuild", partial, "-i", "codepage.idt", "-q", REMOVE_BY_FEATURE] + queries),
        ("msibuild", ["msibuild", partial, "-s", description.strings["Comments"], MANUFACTURER,
                      ("x64" if arch == "x64" else "Intel") + ";1033", package_code]),
    ]
    env = dict(os.environ, TZ="UTC")
    for tool, command in steps:
        done = subprocess.run(command, cwd=work, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              universal_newlines=True)
        if done.returncode != 0:
            if os.path.exists(partial):
                os.remove(partial)
            raise make_module.Refusal("%s failed: %s" % (tool, done.stdout.strip()))
    os.replace(partial, out)


def main(argv):
    if len(argv) != 7 or argv[4] not in ("x86", "x64"):
        sys.stderr.write(__doc__)
        return 2
    description_path, setup, action, arch, work, out = argv[1:]
    try:
        description = make_module.Description(description_path)
        build(description, os.path.abspath(setup), os.path.abspath(action), arch, os.path.abspath(work),
              os.path.abspath(out))
    except make_module.Refusal as refusal:
        sys.stderr.write("%s\nrefused: no package was built\n" % refusal)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
