// The module's uninstall entry: a folder named after a new GUID in the
// InstallShield information folder, holding setup.ini and a copy of this
// program. Made once per application name and never deleted.
#include "registration/uninstall_entry.h"

#include <windows.h>
#include <objbase.h>

#include "context/entries_folder.h"
#include "context/install_context.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "journal/journal.h"
#include "support/error_box.h"
#include "support/handles.h"
#include "support/logged_writes.h"
#include "support/registry_text.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

// True when the subfolder name of folder (which ends with a backslash) holds
// a setup.ini whose "AppName" is the module's application name. A subfolder
// whose setup.ini path would not fit a path buffer is passed over.
bool FilesModule(const char *folder, const char *name)
{
    char iniPath[kPathCapacity];
    if (!JoinPath(iniPath, folder, name) || !AppendPath(iniPath, "\\setup.ini")) return false;
    char appName[kPathCapacity];
    GetPrivateProfileStringA(kEntrySection, "AppName", "", appName, sizeof appName, iniPath);
    return lstrcmpiA(appName, Install().ModuleAppName) == 0;
}

// Goes through the search's entries from the one already found; true when a
// subfolder files the module. Dot-names ("." and ".." among them) are never
// looked into.
bool FindFiledEntry(HANDLE search, WIN32_FIND_DATAA &found, const char *folder)
{
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || found.cFileName[0] == '.') continue;
        if (FilesModule(folder, found.cFileName)) return true;
    } while (FindNextFileA(search, &found));
    return false;
}

// The GUID text in braces, in the system code page; false when it cannot be
// formatted. COM lives only around the one creation, and a failed creation
// leaves the all-zero GUID.
bool MakeGuidText(char *text, size_t capacity)
{
    GUID guid = {};
    CoInitialize(nullptr);
    CoCreateGuid(&guid);
    CoUninitialize();
    wchar_t wide[kPathCapacity];
    if (StringFromGUID2(guid, wide, kPathCapacity) <= 0) return false;
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, text, static_cast<int>(capacity), nullptr, nullptr) > 0;
}

// The module's entry, subfolder name of folder, found by a later install:
// a copy of the program that is missing, or under our own name but not of
// our size, is copied again. A run killed while it copied, or a copy that
// failed, would otherwise leave the uninstaller broken for good, since
// every later install finds the entry by its name and stops there. Without
// its own path the program leaves the entry as it is.
void MendEntryProgram(const char *folder, const char *name)
{
    char ownPath[kPathCapacity];
    if (!ReadOwnPath(ownPath)) return;
    const char *ownName = ownPath + LastBackslash(ownPath) + 1;

    char iniPath[kPathCapacity];
    char copyPath[kPathCapacity];
    if (!JoinPath(iniPath, folder, name) || !CopyPath(copyPath, iniPath) || !AppendPath(iniPath, "\\setup.ini"))
        return;
    char exeName[kPathCapacity];
    GetPrivateProfileStringA(kEntrySection, "ExeName", "", exeName, sizeof exeName, iniPath);
    if (exeName[0] == '\0') {
        // Killed between the two keys: the entry names no program yet.
        WriteProfileText(kEntrySection, "ExeName", ownName, iniPath);
        CopyPath(exeName, ownName);
    }
    if (!AppendPath(copyPath, "\\") || !AppendPath(copyPath, exeName)) return;

    int copied = ProbePath(copyPath);
    bool whole = copied > 0 && (lstrcmpiA(exeName, ownName) != 0 || copied == ProbePath(ownPath));
    if (!whole && !CopyFileA(ownPath, copyPath, FALSE)) ShowErrorBox("CopyFile error.");
}

// Makes the entry folder inside folder (which ends with a backslash).
void MakeEntry(const char *folder)
{
    // Without its own path the program cannot be copied: that copy fails.
    char ownPath[kPathCapacity];
    if (!ReadOwnPath(ownPath)) {
        ShowErrorBox("CopyFile error.");
        return;
    }
    const char *ownName = ownPath + LastBackslash(ownPath) + 1;

    char guidText[kPathCapacity];
    if (!MakeGuidText(guidText, sizeof guidText)) return;

    // Every path of the entry is formed before anything is made, so that an
    // entry is never left half made for want of buffer room.
    char entryDir[kPathCapacity];
    char iniPath[kPathCapacity];
    char copyPath[kPathCapacity];
    bool fits = JoinPath(entryDir, folder, guidText) && JoinPath(iniPath, entryDir, "\\setup.ini") &&
                JoinPath(copyPath, entryDir, "\\") && AppendPath(copyPath, ownName);
    // Rule 1 of the journal: its line is on disk before the folder exists.
    if (!fits || !NoteEntryFolder(entryDir) || !FlushJournal() || !CreateDirectoryA(entryDir, nullptr)) {
        if (fits) LogFailure("entry folder %s not created", entryDir);
        else LogEvent("entry folder in %s: path too long", folder);
        ShowErrorBox("CreateDirectory error.");
        return;
    }
    LogEvent("created uninstall entry folder %s", entryDir);

    WriteProfileText(kEntrySection, "AppName", Install().ModuleAppName, iniPath);
    WriteProfileText(kEntrySection, "ExeName", ownName, iniPath);
    if (CopyFileA(ownPath, copyPath, FALSE)) {
        LogEvent("copied %s to %s", ownPath, copyPath);
        // Rule 3 of the journal: the new entry is on disk before the run
        // commits.
        if (!FlushFile(iniPath) || !FlushFile(copyPath)) MarkRunFailed();
    } else {
        LogFailure("copy %s to %s failed", ownPath, copyPath);
        ShowErrorBox("CopyFile error.");
    }
}

} // namespace

void RegisterUninstallEntry()
{
    char folder[kPathCapacity];
    if (!EntriesFolder(folder)) {
        LogEvent("no uninstall entry: no ProgramFilesDir");
        return;
    }

    char pattern[kPathCapacity];
    if (!JoinPath(pattern, folder, "*")) return;
    // The folder belongs to the installer system: when it is missing the
    // search finds nothing and no entry is made.
    WIN32_FIND_DATAA found;
    OwnedFind search(FindFirstFileA(pattern, &found));
    if (!search) {
        LogEvent("no uninstall entry: %s is missing", folder);
        return;
    }
    if (FindFiledEntry(search.Get(), found, folder)) {
        LogEvent("uninstall entry already filed in %s%s", folder, found.cFileName);
        MendEntryProgram(folder, found.cFileName);
        return;
    }
    search.Reset();

    MakeEntry(folder);
}
