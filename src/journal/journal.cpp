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

// The longest line: a value's name and its old data in hex.
constexpr DWORD kLineCapacity = 2 * kValueCapacity + 2 * kPathCapacity;

// Zero-initialised, so none of it takes room in the file.
HANDLE gJournal = nullptr;  // null while the run has none
bool gJournalBroken = false;
bool gWaiting = false;      // lines written since the last flush
char gLine[kLineCapacity];  // the line being made, written whole by EndLine

// Appends to the line; one that would not fit breaks the journal (nothing
// more is noted, so nothing more changes).
void PutText(const char *text)
{
    if (!AppendText(gLine, kLineCapacity, text)) gJournalBroken = true;
}

// A space, then data in hex.
void PutHex(const void *data, DWORD size)
{
    const BYTE *bytes = static_cast<const BYTE *>(data);
    PutText(" ");
    for (DWORD i = 0; i < size; ++i) {
        const char digits[3] = {kFieldChars[bytes[i] >> 4], kFieldChars[bytes[i] & 15], '\0'};
        PutText(digits);
    }
}

// A change that cannot be noted is not made, and fails the run.
void NoteFailed(const char *what)
{
    LogFailure("change to %s not made", what);
    MarkRunFailed();
}

// Ends the line about what and writes it, in one write: true when all of it
// went through; else the run fails.
bool EndLine(const char *what)
{
    PutText("\r\n");
    DWORD size = static_cast<DWORD>(TextLength(gLine)), written = 0;
    gWaiting = true;
    bool whole = !gJournalBroken && WriteFile(gJournal, gLine, size, &written, nullptr) && written == size;
    gLine[0] = '\0';
    if (whole) return true;
    gJournalBroken = true;
    NoteFailed(what);
    return false;
}

// One line: verb, a space, path. A run without a journal notes nothing; a
// note that cannot be written fails the run.
bool Note(JournalVerb verb, const char *path)
{
    if (gJournal == nullptr) return true;
    PutText(kJournalVerbs[verb]);
    PutText(" ");
    PutText(path);
    return EndLine(path);
}

bool NoteCommit()
{
    PutText(kJournalVerbs[kCommit]);
    return EndLine(kJournalName);
}

// Rule 3: quorin.cfg and the Options key reach the disk before the lines
// that say what the run wrote (and so before the commit line). The staged
// files did before their renames (rule 2), a new entry's files when it was
// made, the flags when they were written.
bool FlushWrites() { return FlushFile(Install().ConfigPath) && FlushOptionsKey(); }

}  // namespace

bool JournalPath(char *path) { return JoinPath(path, Install().ProductDir, kJournalName); }
bool AsidePath(char *aside, const char *path) { return JoinPath(aside, path, kAsideSuffix); }

bool FlushOptionsKey()
{
    OwnedKey options;
    return !OpenOptionsKey(options) || RegFlushKey(options.Get()) == ERROR_SUCCESS;
}

bool BeginJournal()
{
    char path[kPathCapacity];
    gJournalBroken = false;
    gLine[0] = '\0';
    HANDLE journal = JournalPath(path) ? CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr)
                                       : INVALID_HANDLE_VALUE;
    gJournal = journal != INVALID_HANDLE_VALUE ? journal : nullptr;
    if (gJournal == nullptr) {
        NoteFailed(path[0] != '\0' ? path : kJournalName);  // named in the log even when its path does not fit
        return false;
    }
    PutText(kJournalHeader);
    return EndLine(path);
}

bool FlushJournal()
{
    if (gJournal == nullptr || !gWaiting) return !gJournalBroken;
    gWaiting = false;
    if (!gJournalBroken && FlushFileBuffers(gJournal)) return true;
    gJournalBroken = true;
    NoteFailed(kJournalName);
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

bool MoveAside(const char *path)
{
    char aside[kPathCapacity];
    if (AsidePath(aside, path) && RenameFile(path, aside, 0)) return true;
    NoteFailed(path);
    return false;
}

// Rule 1: the line is on disk before the move.
bool SetAside(const char *path) { return NoteStaged(path, false) && FlushJournal() && MoveAside(path); }

bool KeepCopy(const char *path)
{
    if (gJournal == nullptr) return true;
    char aside[kPathCapacity];
    const bool existed = ProbePath(path) != kProbeMissing;
    // Rule 2: the copy is whole on disk before its line, and so before the
    // rewrite it stands in for. A copy left by an earlier run goes first, so
    // that the copy is a new file (nothing planted under its name is written
    // through), and so does one that cannot be flushed (a read-only
    // original's: a run that cannot rewrite the original fails anyway).
    if (existed && (!AsidePath(aside, path) || !DiscardFile(aside) || !CopyFileTo(path, aside, TRUE) ||
                    !FlushFile(aside))) {
        DiscardFile(aside);
        NoteFailed(path);
        return false;
    }
    return Note(existed ? kAside : kAdded, path);
}

namespace {

// A value line (verb kValue: the old data, before the run writes; kNow: what
// the run wrote).
bool NoteValue(JournalVerb verb, HKEY options, const char *name)
{
    if (gJournal == nullptr) return true;
    BYTE data[kValueCapacity];
    DWORD type = 0;
    DWORD size = sizeof data;
    LONG read = RegQueryValueExA(options, name, nullptr, &type, data, &size);
    PutText(kJournalVerbs[verb]);
    PutText(" ");
    PutText(name);
    if (read == ERROR_FILE_NOT_FOUND) {
        PutText(" -");
    } else if (read != ERROR_SUCCESS || !IsNotedType(type)) {
        gJournalBroken = true;  // too large to note, or of a type no run writes
    } else {
        const char digits[3] = {' ', kFieldChars[type], '\0'};
        PutText(digits);
        PutHex(data, size);
    }
    return EndLine(name);
}

// What the run wrote into path: its stamp, and the one section it changed
// there. A file that is not there was not written: no line.
bool NoteWritten(const char *path, const char *section)
{
    FileStamp stamp;
    if (!ReadFileStamp(path, &stamp)) return true;
    PutText(kJournalVerbs[kWrote]);
    PutHex(&stamp, sizeof stamp);
    PutHex(section, static_cast<DWORD>(TextLength(section)));
    PutText(" ");
    PutText(path);
    return EndLine(path);
}

HKEY gOptions;  // the Options key while NoteWrites goes through the values
bool NoteNow(const char *name, bool) { return NoteValue(kNow, gOptions, name); }
bool NoteFlagWritten(const char *path) { return NoteWritten(path, Install().ModuleName); }

// Calls step for each quorin.inf copy the install flag is written to.
bool ForEachFlaggedCopy(bool (*step)(const char *path))
{
    char path[kPathCapacity];
    for (int copy = 0; copy < 2; ++copy)
        if (FlaggedModuleInfoCopy(copy, path) && !step(path)) return false;
    return true;
}

}  // namespace

bool NoteOptionsValue(HKEY options, const char *name) { return NoteValue(kValue, options, name); }

void NoteWrites()
{
    if (gJournal == nullptr || RunFailed()) return;
    OwnedKey options;
    // Rule 3: what a wrote line stamps is on disk before the line is.
    bool noted = FlushWrites() && NoteWritten(Install().ConfigPath, kLanguagesSection) &&
                 ForEachFlaggedCopy(NoteFlagWritten);
    if (noted && OpenOptionsKey(options)) {
        gOptions = options.Get();
        noted = ForEachLine(1u << kValue, NoteNow);
    }
    if (!(noted && FlushJournal())) MarkRunFailed();
}

bool KeepModuleInfoCopies() { return ForEachFlaggedCopy(KeepCopy); }

bool SettleJournal()
{
    if (gJournal == nullptr) return true;
    // Rule 3: the commit line goes to disk after what the run wrote, and
    // before FollowJournal deletes anything that was moved aside.
    if (!RunFailed() && !gJournalBroken && !(NoteCommit() && FlushJournal())) MarkRunFailed();
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
