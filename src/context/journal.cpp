// The run's journal: each line names one change the run is about to make,
// and is on disk before the change, so that a run killed at any point
// leaves a journal that says what to put back.
#include "context/journal.h"

#include "context/install_context.h"
#include "context/journal_format.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "support/error_box.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

HANDLE gJournal = nullptr;  // null while the run has none (zero-initialised: no data section)
bool gJournalBroken = false;
char gKept[kPathCapacity];  // the file KeepCopy copied in this run

bool Put(const void *data, DWORD size)
{
    DWORD written = 0;
    if (!gJournalBroken && WriteFile(gJournal, data, size, &written, nullptr) && written == size) return true;
    gJournalBroken = true;  // nothing more is noted, so nothing more changes
    return false;
}
bool PutText(const char *text) { return Put(text, static_cast<DWORD>(TextLength(text))); }

bool PutHex(const BYTE *data, DWORD size)
{
    char chunk[256];
    DWORD used = 0;
    for (DWORD i = 0; i < size; ++i) {
        chunk[used++] = kFieldChars[data[i] >> 4];
        chunk[used++] = kFieldChars[data[i] & 15];
        if (used == sizeof chunk && !Put(chunk, used)) return false;
        if (used == sizeof chunk) used = 0;
    }
    return Put(chunk, used);
}

// A change that cannot be noted is not made, and fails the run.
void NoteFailed(const char *what)
{
    LogFailure("change to %s not made", what);
    MarkRunFailed();
}

// One line: verb, a space, path. A run without a journal notes nothing; a
// note that cannot be written fails the run.
bool Note(JournalVerb verb, const char *path)
{
    if (gJournal == nullptr) return true;
    // One write for the line (a run notes a line for each of its files);
    // path comes from a path buffer, so the line fits.
    char line[kPathCapacity + 16];
    bool written = TextLength(path) < kPathCapacity &&
                   (wsprintfA(line, "%s %s\r\n", kJournalVerbs[verb], path), PutText(line));
    if (!written) NoteFailed(path);
    return written;
}

}  // namespace

bool JournalPath(char *path) { return JoinPath(path, Install().ProductDir, "quorin.jnl"); }
bool AsidePath(char *aside, const char *path) { return JoinPath(aside, path, kAsideSuffix); }

bool BeginJournal()
{
    char path[kPathCapacity] = "quorin.jnl";  // named in the log even when the path does not fit
    gKept[0] = '\0';
    gJournalBroken = false;
    HANDLE journal = INVALID_HANDLE_VALUE;
    if (JournalPath(path)) journal = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    gJournal = journal != INVALID_HANDLE_VALUE ? journal : nullptr;
    if (gJournal == nullptr || !PutText(kJournalHeader)) {
        NoteFailed(path);
        return false;
    }
    return true;
}

bool NoteAtCommit(bool replace, const char *target) { return Note(replace ? kReplace : kDelete, target); }
bool NoteEntryFolder(const char *folder) { return Note(kEntry, folder); }

bool NoteInstalled(const char *target)
{
    char aside[kPathCapacity];
    if (ProbePath(target) == kProbeMissing) return Note(kAdded, target);
    if (AsidePath(aside, target) && DiscardFile(aside)) return Note(kAside, target);
    NoteFailed(target);
    return false;
}

bool MoveAside(const char *path)
{
    char aside[kPathCapacity];
    if (AsidePath(aside, path) && MoveFileExA(path, aside, 0)) return true;
    NoteFailed(path);
    return false;
}

bool SetAside(const char *path) { return NoteInstalled(path) && MoveAside(path); }

bool KeepCopy(const char *path)
{
    if (gJournal == nullptr || EqualsIgnoreAsciiCase(gKept, path)) return true;
    char aside[kPathCapacity];
    const bool existed = ProbePath(path) != kProbeMissing;
    if (existed && (!AsidePath(aside, path) || !CopyFileA(path, aside, FALSE))) {
        NoteFailed(path);
        return false;
    }
    return Note(existed ? kAside : kAdded, path) && CopyPath(gKept, path);
}

bool NoteOptionsValue(const char *name, LONG read, DWORD type, const BYTE *data, DWORD size)
{
    if (gJournal == nullptr) return true;
    const bool missing = read == ERROR_FILE_NOT_FOUND;
    // The type is one hex digit: every type the registry defines.
    const char digits[4] = {' ', kFieldChars[type & 15], ' ', '\0'};
    bool noted = (missing || (read == ERROR_SUCCESS && type < kHexChars)) && PutText(kJournalVerbs[kValue]) &&
                 PutText(" ") && PutText(name) &&
                 (missing ? PutText(" -") : PutText(digits) && PutHex(data, size)) && PutText("\r\n");
    if (!noted) NoteFailed(name);
    return noted;
}

bool NoteInstallFlag(const char *path, const char *section)
{
    if (gJournal == nullptr) return true;
    // A default no flag holds tells a missing key from any text it holds.
    char old[64];
    GetPrivateProfileStringA(section, "Install", "\x7f", old, sizeof old, path);
    bool missing = old[0] == '\x7f' && old[1] == '\0';
    bool noted = PutText(kJournalVerbs[kFlag]) && PutText(" ") &&
                 PutHex(reinterpret_cast<const BYTE *>(section), TextLength(section)) && PutText(" ") &&
                 (missing ? PutText("-") : PutHex(reinterpret_cast<const BYTE *>(old), TextLength(old))) &&
                 PutText(" ") && PutText(path) && PutText("\r\n");
    if (!noted) NoteFailed(path);
    return noted;
}

bool SettleJournal()
{
    if (gJournal == nullptr) return true;
    if (!RunFailed() && !gJournalBroken && !(PutText(kJournalVerbs[kCommit]) && PutText("\r\n")))
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
