// The run's work folder under %WINDIR%\temp, made by the run itself and
// held open until the run removes it.
#include "context/work_dir.h"

#include <windows.h>
#include <sddl.h>

#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

// The work folder is made by the run itself and held open until the run
// removes it. %WINDIR%\temp lets every user create folders and files, and
// the run unpacks, copies and deletes there with administrator rights: a
// folder someone else made, or a link in its place, would steer what is
// written, installed and deleted.
HANDLE gWorkDirHandle = nullptr;

// Only administrators and the system, nothing inherited from %WINDIR%\temp,
// whose entries let users add to what they did not make.
constexpr const char *kWorkDirAccess = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Opens folder so that it stays where it is while the handle is held:
// without delete sharing nobody can rename it away or delete it, so every
// use by its path meets this folder; without write sharing nobody can open
// it to write, as turning it into a mount point needs. Only a handle that
// reads the folder takes part in sharing, so it asks for that. attributes
// gets what the handle itself sees, so a link put in its place since the
// path was looked at is told from a folder. Null when nothing of that name
// can be opened.
HANDLE PinFolder(const char *folder, DWORD *attributes)
{
    HANDLE pinned = CreateFileA(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (pinned == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    *attributes = GetFileInformationByHandle(pinned, &info) ? info.dwFileAttributes : 0;
    // Wine's handle sees through a Unix symbolic link, its path does not.
    DWORD byPath = GetFileAttributesA(folder);
    if (byPath != INVALID_FILE_ATTRIBUTES) *attributes |= byPath & FILE_ATTRIBUTE_REPARSE_POINT;
    return pinned;
}

// Whatever folder of the work folder's name is there before the run (left
// by a killed run, or made by anyone) is not used. Its plain files are
// deleted while it is pinned (a killed run leaves the payload there), then
// it is removed; a link (junction or symbolic link) is removed without
// touching what it points to. A folder that still holds something is
// renamed aside, its contents unread. A link that will not go is never
// moved, since a move might take its target along: the run does not go on
// then. False when the name cannot be made free.
bool ClearWorkDirName(const char *folder)
{
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;  // nothing, or a plain file: see CheckDirectory
    HANDLE pinned = PinFolder(folder, &attributes);
    if (pinned != nullptr && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        char pattern[kPathCapacity];
        if (JoinPath(pattern, folder, "\\*.*"))
            RemoveFiles(pattern);
    }
    if (pinned != nullptr) CloseHandle(pinned);
    if (RemoveDirectoryA(folder)) {
        LogContext("removed old %s", folder);
        return true;
    }
    attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        LogContext("work directory %s is a link, not used", folder);
        return false;
    }
    // Fits: folder is the Windows directory (under 128 characters, see
    // WindowsDirectory) with \temp\quorin, and the suffix at most 9.
    char aside[kPathCapacity];
    wsprintfA(aside, "%s.%lx", folder, GetTickCount() ^ GetCurrentProcessId());
    if (MoveFileExA(folder, aside, 0)) {
        LogContext("moved old %s aside to %s", folder, aside);
        return true;
    }
    LogFailure("context: %s is in the way", folder);
    return false;
}

}  // namespace

bool PrepareWorkDir(InstallContext &context)
{
    ReleaseWorkDir();  // held by an earlier load in this process
    char windows[kPathCapacity];
    char folder[kPathCapacity];  // the work folder without its backslash
    if (!WindowsDirectory(windows) || !JoinPath(context.WorkDir, windows, "\\temp\\quorin\\")) {
        context.WorkDir[0] = '\0';
        return false;
    }
    CopyPath(folder, context.WorkDir);
    folder[TextLength(folder) - 1] = '\0';
    // Only a folder the run makes itself is used: between clearing the
    // name and making the folder any user may make one of that name, theirs
    // to turn into a link while the run unpacks into it. The name is cleared
    // again then, a few times, before the run gives up.
    PSECURITY_DESCRIPTOR access = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(kWorkDirAccess, SDDL_REVISION_1, &access, nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, access, FALSE};
    SECURITY_ATTRIBUTES *own = access != nullptr ? &attributes : nullptr;
    bool made = false;
    for (int attempt = 0; attempt < 3 && !made && ClearWorkDirName(folder); ++attempt) {
        made = CreateDirectoryA(folder, own);
        if (made)
            LogEvent("created directory %s", folder);
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            made = EnsureDirectoryTree(context.WorkDir, own);  // %WINDIR%\temp missing, or the box
    }
    LocalFree(access);
    if (!made) {
        LogFailure("context: %s is in the way", folder);
        return false;
    }

    // Held from here until the run removes the folder (see PinFolder); on
    // Windows nobody but administrators may write into it either.
    DWORD seen = 0;
    HANDLE held = PinFolder(folder, &seen);
    if (held == nullptr) return true;  // no folder: see CheckDirectory
    if (seen & FILE_ATTRIBUTE_REPARSE_POINT) {
        CloseHandle(held);
        LogContext("work directory %s is a link, not used", folder);
        return false;
    }
    if (seen & FILE_ATTRIBUTE_DIRECTORY)
        gWorkDirHandle = held;
    else
        CloseHandle(held);
    return true;
}

void ReleaseWorkDir()
{
    if (gWorkDirHandle != nullptr) CloseHandle(gWorkDirHandle);
    gWorkDirHandle = nullptr;
}
