// The small file operations the stages share.
#pragma once

#include <windows.h>

// Creates every missing directory of path, component by component, the last
// one with lastComponent's security when given. True when the directory
// exists or was made. Shows the "BManager" box only when the last component
// cannot be made. An empty path, or one of 260 characters or more, gives
// false without a box. path's text is the same on return.
bool EnsureDirectoryTree(char *path, SECURITY_ATTRIBUTES *lastComponent = nullptr);

// After a failed call on path: true, after a pause, while the failure is a
// hold that may pass (a sharing violation, or access denied to a file that
// is not read-only: a virus scanner opens a file just written, or about to
// be replaced, for a second or more) and the run has waited less than its
// budget of about four seconds in all; the first pause for a file is
// logged. False at once for any other failure, and once the budget is
// spent: a hold that never ends costs a run that much, and no more. The
// caller's error is kept for it.
bool WaitedOut(const char *path);

// MoveFileExA and CopyFileA, each waiting out a short hold of the file
// (WaitedOut).
bool RenameFile(const char *from, const char *to, DWORD flags);
bool CopyFileTo(const char *from, const char *to, BOOL failIfExists);

// Deletes one non-empty file, clearing its read-only bit first. True when
// the file was deleted; an empty file, a directory or nothing gives false.
bool RemoveFile(const char *path);

// Deletes a file whatever its size or read-only mark, waiting out a short
// hold. True when it is gone (or was never there).
bool DiscardFile(const char *path);

// Puts the file's data on disk (FlushFileBuffers on a handle of its own,
// opened once a short hold is over),
// for what must survive a power cut before the run goes on. True when it is
// flushed or missing (or no path); false when it cannot be opened for writing or the
// flush fails.
bool FlushFile(const char *path);

// True when neither path itself nor a folder of it that ends after its
// first from characters is a reparse point (a junction or a symbolic link):
// a path a standard user can influence is followed only through real
// folders, since a link would lead the elevated run to files of any other
// folder.
bool FreeOfLinks(const char *path, size_t from);

// The staging name of a target: the same name with a '~' after it, so that
// its extension is no longer ".qd". False when it does not fit.
bool StagingPath(char *staging, const char *target);

// True when another program holds path open, which is asked of the file
// itself: a refused rename says "access denied" for a held file and for a
// forbidden one alike. StillInUse asks again while WaitedOut lets it.
bool InUse(const char *path);
bool StillInUse(const char *path);

// Only for a path in use: leaves the rename of staging onto path (staging
// null: the deletion of path) to the next restart of Windows and marks the
// restart needed. False when path is not in use or nothing was scheduled.
bool ScheduleIfInUse(const char *path, const char *staging);

// Deletes every non-empty plain file that pattern (a directory path with a
// wildcard after its last backslash) matches. Sub-directories stay.
void RemoveFiles(const char *pattern);

// What tells a file's versions apart without reading it: its last-write
// time and size. A copy keeps its original's time, so a kept copy has its
// original's stamp until the original is rewritten.
struct FileStamp {
    FILETIME Written;
    DWORD SizeHigh;
    DWORD SizeLow;
};
// False when path names nothing.
bool ReadFileStamp(const char *path, FileStamp *stamp);
// True when both files exist with the same stamp.
bool SameFile(const char *a, const char *b);

// True when target need not be overwritten by source: the source is missing,
// a directory or empty, or it is older than a non-empty target.
bool CopyNotNeeded(const char *source, const char *target);
