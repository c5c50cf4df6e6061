// The journal's writer: each line is written before the change it names and
// flushed, in groups, before that change is made (see journal.h).
#include "journal/journal.h"

#include "context/install_context.h"
#include "context/module_info.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "journal/journal_format.h"
#include "support/error_box.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

// Zero-initialised: no data section.
HANDLE gJournal = nullptr;  // null while the run has none
bool gJournalBroken = false;
bool gWaiting = false;          // lines written since the last flush

// Room for an old value to be put back: far more than any value the product
// or its modules keep there.
constexpr DWORD kOldCapacity = 2048;

// Every write after a failed one does nothing: a line is checked once, at
// its end (EndLine).
void Put(const void *data, DWORD size)
{
    DWORD written = 0;
    gWaiting = true;
    if (!gJournalBroken && WriteFile(gJournal, data, size, &written, nullptr) && written == size) return;
    gJournalBroken = true;  // nothing more is noted, so nothing more changes
}
void PutText(const char *text) { Put(text, static_cast<DWORD>(TextLength(text))); }

// A space, then data in hex.
void PutHex(const void *data, DWORD size)
{
    const BYTE *bytes = static_cast<const BYTE *>(data);
    char chunk[256] = " ";
    DWORD used = 1;
    for (DWORD i = 0; i < size; ++i) {
        if (used + 2 > sizeof chunk) {
            Put(chunk, used);
            used = 0;
        }
        chunk[used++] = kFieldChars[bytes[i] >> 4];
        chunk[used++] = kFieldChars[bytes[i] & 15];
    }
    Put(chunk, used);
}
void PutHexText(const char *text) { PutHex(text, static_cast<DWORD>(TextLength(text))); }

// A change that cannot be noted is not made, and fails the run.
void NoteFailed(const char *what)
{
    LogFailure("change to %s not made", what);
    MarkRunFailed();
}

// True when every write of the line about what went through; else the run
// fails.
bool Written(const char *what)
{
    if (!gJournalBroken) return true;
    NoteFailed(what);
    return false;
}

// Ends the line about what.
bool EndLine(const char *what)
{
    PutText("\r\n");
    return Written(what);
}

// One line: verb, a space, path. A run without a journal notes nothing; a
// note that cannot be written fails the run.
bool Note(JournalVerb verb, const char *path)
{
    if (gJournal == nullptr) return true;
    // One write for the line (a run notes a line for each of its files); a
    // path that would not fit is not noted, and so not changed.
    char line[kPathCapacity + 16];
    if (TextLength(path) >= kPathCapacity) {
        gJournalBroken = true;
    } else {
        wsprintfA(line, "%s %s\r\n", kJournalVerbs[verb], path);
        PutText(line);
    }
    return Written(path);
}

// Rule 3: what the run rewrote in place, and the Options key, reach the
// disk before the commit line does. The staged files did before their
// renames (rule 2), a new entry's files when it was made.
bool FlushWrites() { return FlushFile(Install().ConfigPath) && FlushModuleInfoCopies() && FlushOptionsKey(); }

}  // namespace

bool JournalPath(char *path) { return JoinPath(path, Install().ProductDir, "quorin.jnl"); }
bool AsidePath(char *aside, const char *path) { return JoinPath(aside, path, kAsideSuffix); }

bool FlushModuleInfoCopies()
{
    char path[kPathCapacity];
    for (int copy = 0; copy < 2; ++copy)
        if (FlaggedModuleInfoCopy(copy, path) && !FlushFile(path)) return false;
    return true;
}

bool FlushOptionsKey()
{
    OwnedKey options;
    return !OpenOptionsKey(options) || RegFlushKey(options.Get()) == ERROR_SUCCESS;
}

bool BeginJournal()
{
    char path[kPathCapacity] = "quorin.jnl";  // named in the log even when the path does not fit
    gJournalBroken = false;
    HANDLE journal = INVALID_HANDLE_VALUE;
    if (JournalPath(path)) journal = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    gJournal = journal != INVALID_HANDLE_VALUE ? journal : nullptr;
    if (gJournal == nullptr) {
        NoteFailed(path);
        return false;
    }
    PutText(kJournalHeader);
    return Written(path);
}

bool FlushJournal()
{
    if (gJournal == nullptr || !gWaiting) return !gJournalBroken;
    gWaiting = false;
    if (!gJournalBroken && FlushFileBuffers(gJournal)) return true;
    gJournalBroken = true;
    NoteFailed("quorin.jnl");
    return false;
}

bool NoteAtCommit(bool replace, const char *target) { return Note(replace ? kReplace : kDelete, target); }

bool NoteEntryFolder(const char *folder) { return Note(kEntry, folder); }

bool NoteStaged(const char *target, bool missing)
{
    char aside[kPathCapacity];
    if (missing) return Note(kAdded, target);
    if (AsidePath(aside, target) && DiscardFile(aside)) return Note(kAside, target);
    NoteFailed(target);
    return false;
}

bool NoteInstalled(const char *target) { return NoteStaged(target, ProbePath(target) == kProbeMissing); }

bool MoveAside(const char *path)
{
    char aside[kPathCapacity];
    if (AsidePath(aside, path) && MoveFileExA(path, aside, 0)) return true;
    NoteFailed(path);
    return false;
}

// Rule 1: the line is on disk before the move.
bool SetAside(const char *path) { return NoteInstalled(path) && FlushJournal() && MoveAside(path); }

bool KeepCopy(const char *path)
{
    if (gJournal == nullptr) return true;
    char aside[kPathCapacity];
    const bool existed = ProbePath(path) != kProbeMissing;
    // Rule 2: the copy is whole on disk before its line, and so before the
    // rewrite it stands in for. A copy left by an earlier run goes first, and
    // so does one that cannot be flushed (a read-only original's: a run that
    // cannot rewrite the original fails anyway).
    if (existed && (!AsidePath(aside, path) || !DiscardFile(aside) || !CopyFileA(path, aside, FALSE) ||
                    !FlushFile(aside))) {
        DiscardFile(aside);
        NoteFailed(path);
        return false;
    }
    return Note(existed ? kAside : kAdded, path);
}

bool NoteOptionsValue(HKEY options, const char *name)
{
    if (gJournal == nullptr) return true;
    BYTE data[kOldCapacity];
    DWORD type = 0;
    DWORD size = sizeof data;
    LONG read = RegQueryValueExA(options, name, nullptr, &type, data, &size);
    PutText(kJournalVerbs[kValue]);
    PutText(" ");
    PutText(name);
    if (read == ERROR_FILE_NOT_FOUND) {
        PutText(" -");
    } else if (read != ERROR_SUCCESS || type >= kHexChars) {
        gJournalBroken = true;  // too large to note (size is then what it needs)
    } else {
        // The type is one hex digit: every type the registry defines.
        const char digits[3] = {' ', kFieldChars[type], '\0'};
        PutText(digits);
        PutHex(data, size);
    }
    return EndLine(name);
}

bool NoteInstallFlags()
{
    if (gJournal == nullptr) return true;
    const char *section = Install().ModuleName;
    char path[kPathCapacity];
    for (int copy = 0; copy < 2; ++copy) {
        if (!FlaggedModuleInfoCopy(copy, path)) continue;
        // A default no flag holds tells a missing key from any text it holds.
        char old[64];
        GetPrivateProfileStringA(section, "Install", "\x7f", old, sizeof old, path);
        PutText(kJournalVerbs[kFlag]);
        PutHexText(section);
        if (old[0] == '\x7f' && old[1] == '\0')
            PutText(" -");
        else
            PutHexText(old);
        PutText(" ");
        PutText(path);
        if (!EndLine(path)) return false;
    }
    return true;
}

bool SettleJournal()
{
    if (gJournal == nullptr) return true;
    // Rule 3: the commit line goes to disk after what the run wrote, and
    // before FollowJournal deletes anything that was moved aside.
    if (!RunFailed() && !gJournalBroken &&
        !(FlushWrites() && (PutText(kJournalVerbs[kCommit]), EndLine("quorin.jnl")) && FlushJournal()))
        MarkRunFailed();
    CloseHandle(gJournal);
    gJournal = nullptr;
    char path[kPathCapacity];
    return JournalPath(path) && FollowJournal(path, true);
}

bool RecoverJournal()
{
    char path[kPathCapacity];
    if (!JournalPath(path) || ProbePath(path) == kProbeMissing) return true;
    LogEvent("journal %s left by an earlier run", path);
    return FollowJournal(path, false);
}
