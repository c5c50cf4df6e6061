#include "fs/file_ops.h"

#include <windows.h>
#include <stdio.h>

#include "fs/path_probe.h"
#include "support/error_box.h"
#include "support/handles.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

void ShowDirectoryError(const char *path, DWORD error)
{
    char text[kPathCapacity + 64];
    wsprintfA(text, "%s\n\tDirectory cann't be created.\n\tError %ld.", path, static_cast<long>(error));
    ShowErrorBoxStyled(text, "BManager", MB_ICONERROR);
}

// Walks the components after the root prefix, creating what is missing.
bool CreateComponents(const char *path, size_t rootLength, SECURITY_ATTRIBUTES *lastComponent)
{
    char partial[kPathCapacity];
    CopyPath(partial, path);
    size_t position = rootLength;
    for (;;) {
        size_t end = position;
        while (path[end] != '\0' && path[end] != '\\') ++end;
        partial[end] = '\0';
        bool last = path[end] == '\0';
        if (ProbePath(partial) != kProbeDirectory) {
            if (CreateDirectoryA(partial, last ? lastComponent : nullptr)) {
                LogEvent("created directory %s", partial);
            } else {
                DWORD error = GetLastError();
                // Only the last component's failure matters: an earlier one may
                // be a share or a directory that the walk cannot see but may enter.
                if (last && error != ERROR_ALREADY_EXISTS) {
                    ShowDirectoryError(path, error);
                    return false;
                }
            }
        }
        if (last) return true;
        partial[end] = '\\';
        position = end + 1;
        if (path[position] == '\\') return true;  // a doubled separator ends the walk
        if (path[position] == '\0') return true;
    }
}

// What the run has waited for held files, and the file it waited for last.
constexpr DWORD kWaitBudget = 4000;  // ms, about what widely used installers wait
constexpr DWORD kWaitSlice = 100;
DWORD gWaited = 0;
char gWaitedFor[kPathCapacity];

}  // namespace

bool WaitedOut(const char *path)
{
    // A failure that is no hold, or a spent budget, leaves the caller's
    // error as it was; so does the look at the file's attributes, which
    // changes it only where the file is gone.
    const DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || gWaited >= kWaitBudget) return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (!EqualsIgnoreAsciiCase(path, gWaitedFor)) {
        CopyPath(gWaitedFor, path);
        LogEvent("%s held by another program: waiting", path);
    }
    Sleep(kWaitSlice);
    gWaited += kWaitSlice;
    return true;
}

bool RenameFile(const char *from, const char *to, DWORD flags)
{
    while (!MoveFileExA(from, to, flags))
        if (!WaitedOut(from)) return false;
    return true;
}

bool CopyFileTo(const char *from, const char *to, BOOL failIfExists)
{
    while (!CopyFileA(from, to, failIfExists))
        if (!WaitedOut(to)) return false;
    return true;
}

bool EnsureDirectoryTree(char *path, SECURITY_ATTRIBUTES *lastComponent)
{
    size_t length = TextLength(path);
    if (length == 0 || length >= kPathCapacity) return false;

    // The caller sees its text unchanged: a trailing backslash is cut for the
    // length of the call only.
    bool cut = path[length - 1] == '\\';
    if (cut) path[--length] = '\0';

    bool result;
    size_t rootLength = 0;
    if (ProbePath(path) != kProbeMissing) {
        result = true;
    } else if (path[0] == '\\' || (length > 1 && path[1] == '\\')) {
        // Network path or a path rooted without a drive: the root runs up to
        // the first backslash from the third character on.
        size_t i = 2;
        while (i < length && path[i] != '\\') ++i;
        if (i >= length) {
            result = false;
        } else {
            rootLength = i + 1;
            result = (path[rootLength] == '\\' || path[rootLength] == '\0') ? true
                                                                              : CreateComponents(path, rootLength, lastComponent);
        }
    } else if (length <= 3) {
        result = true;
    } else {
        rootLength = 3;
        result = path[rootLength] == '\\' ? true : CreateComponents(path, rootLength, lastComponent);
    }

    if (cut) {
        path[length] = '\\';
        path[length + 1] = '\0';
    }
    return result;
}

bool RemoveFile(const char *path)
{
    if (ProbePath(path) <= 0) {
        LogEvent("not deleted %s: missing or empty", path);
        return false;
    }
    if (DiscardFile(path)) return true;
    LogFailure("delete %s failed", path);
    return false;
}

bool DiscardFile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    while (!DeleteFileA(path))
        if (!WaitedOut(path)) return false;
    LogEvent("deleted %s", path);
    return true;
}

bool FlushFile(const char *path)
{
    for (;;) {
        OwnedHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
        if (file) return FlushFileBuffers(file.Get()) != 0;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        if (!WaitedOut(path)) return false;
    }
}

bool FreeOfLinks(const char *path, size_t from)
{
    char partial[kPathCapacity];
    // A path too long to copy is one a link could hide in.
    if (!CopyPath(partial, path)) return false;
    // From the file up, each folder as long as it lies after from.
    for (int cut;; partial[cut] = '\0') {
        const DWORD attributes = GetFileAttributesA(partial);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
        cut = LastBackslash(partial);
        if (cut < static_cast<int>(from)) return true;
    }
}

bool StagingPath(char *staging, const char *target)
{
    return JoinPath(staging, target, "~");
}

bool InUse(const char *path)
{
    // Windows refuses to replace a file that is open at all, whatever the
    // holder shares; an open without sharing fails exactly then.
    HANDLE file = CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

bool StillInUse(const char *path)
{
    while (InUse(path))
        if (!WaitedOut(path)) return true;
    return false;
}

bool ScheduleIfInUse(const char *path, const char *staging)
{
    if (!InUse(path)) return false;
    const char *what = "deletion";
    const char *from = path, *to = nullptr;
    DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT;
    if (staging) {
        what = "replacement";
        from = staging;
        to = path;
        flags |= MOVEFILE_REPLACE_EXISTING;
    }
    if (!MoveFileExA(from, to, flags)) {
        LogFailure("%s in use, %s not scheduled", path, what);
        return false;
    }
    LogEvent("%s in use: %s scheduled for the next restart", path, what);
    MarkRestartNeeded();
    return true;
}

void RemoveFiles(const char *pattern)
{
    char path[kPathCapacity];
    if (!CopyPath(path, pattern)) return;
    size_t directoryLength = CutAfterLastBackslash(path);

    WIN32_FIND_DATAA found;
    OwnedFind find(FindFirstFileA(pattern, &found));
    if (!find) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        path[directoryLength] = '\0';
        if (AppendPath(path, found.cFileName)) RemoveFile(path);
    } while (FindNextFileA(find.Get(), &found));
}

bool ReadFileStamp(const char *path, FileStamp *stamp)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    *stamp = FileStamp{data.ftLastWriteTime, data.nFileSizeHigh, data.nFileSizeLow};
    return true;
}

bool SameFile(const char *a, const char *b)
{
    FileStamp first, second;
    return ReadFileStamp(a, &first) && ReadFileStamp(b, &second) && SameBytes(&first, &second, sizeof first);
}

bool CopyNotNeeded(const char *source, const char *target)
{
    if (ProbePath(source) <= 0) return true;
    if (ProbePath(target) <= 0) return false;
    FileStamp sourceStamp, targetStamp;
    if (!ReadFileStamp(source, &sourceStamp) || !ReadFileStamp(target, &targetStamp)) return false;
    return CompareFileTime(&sourceStamp.Written, &targetStamp.Written) < 0;
}
