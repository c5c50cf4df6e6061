// The run's journal. Each line names one change the run is about to make,
// and is on disk before the change: a run killed at any point leaves a
// journal that says what to put back, and one killed while it wrote a line
// leaves that line without its end, which is not followed (the change it
// named was never made).
#include "context/journal.h"

#include "context/install_context.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "registration/language_store.h"
#include "registration/uninstall_entry.h"
#include "run/run_mode.h"
#include "support/error_box.h"
#include "support/handles.h"
#include "support/logged_writes.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

constexpr char kHeader[] = "quorin journal 1\r\n";
constexpr char kAside[] = ".old";
// Far more than a run writes (a few lines per file, the registry's old
// texts): a larger file is not one of ours.
constexpr DWORD kJournalLimit = 4u << 20;

HANDLE gJournal = nullptr;  // null while the run has none (zero-initialised: no data section)
bool gJournalBroken = false;
char gKept[kPathCapacity];  // the file KeepCopy copied in this run

bool JournalPath(char *path) { return JoinPath(path, Install().ProductDir, "quorin.jnl"); }
bool AsidePath(char *aside, const char *path) { return JoinPath(aside, path, kAside); }
bool Exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

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
    static const char kDigits[] = "0123456789abcdef";
    char chunk[256];
    DWORD used = 0;
    for (DWORD i = 0; i < size; ++i) {
        chunk[used++] = kDigits[data[i] >> 4];
        chunk[used++] = kDigits[data[i] & 15];
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

// One line: verb, then each given field after a space. A run without a
// journal notes nothing; a note that cannot be written fails the run.
bool Note(const char *verb, const char *first = nullptr, const char *second = nullptr)
{
    if (gJournal == nullptr) return true;
    bool written = PutText(verb) && (first == nullptr || (PutText(" ") && PutText(first))) &&
                   (second == nullptr || (PutText(" ") && PutText(second))) && PutText("\r\n");
    if (!written) NoteFailed(first);
    return written;
}

// The characters the journal's fields are made of: hex digits first, then
// what a GUID adds, then the rest of a value name's.
constexpr char kFieldChars[] = "0123456789abcdef{}-ghijklmnopqrstuvwxyz";
constexpr size_t kHexChars = 16;
constexpr size_t kGuidChars = 19;

const char *FindChar(const char *text, char c)
{
    for (; *text != '\0'; ++text)
        if (*text == c) return text;
    return nullptr;
}

// True when text is made of the first count of kFieldChars (any case).
bool MadeOf(const char *text, size_t count)
{
    for (; *text != '\0'; ++text) {
        const char *at = FindChar(kFieldChars, LowerAscii(*text));
        if (at == nullptr || static_cast<size_t>(at - kFieldChars) >= count) return false;
    }
    return true;
}

bool IsHex(const char *text) { return MadeOf(text, kHexChars) && TextLength(text) % 2 == 0; }

// Decodes hex text (checked by IsHex) in place; returns the byte count.
DWORD DecodeHex(char *text)
{
    auto nibble = [](char c) { c = LowerAscii(c); return c <= '9' ? c - '0' : c - 'a' + 10; };
    DWORD size = 0;
    for (const char *c = text; c[0] != '\0'; c += 2) text[size++] = static_cast<char>(nibble(c[0]) << 4 | nibble(c[1]));
    text[size] = '\0';
    return size;
}

// Splits the first field off text: text ends at the space, the rest follows.
char *Field(char *text)
{
    for (char *c = text; *c != '\0'; ++c)
        if (*c == ' ') { *c = '\0'; return c + 1; }
    return nullptr;
}

// A file of the product: inside its directory or its dictionary directory,
// with room for the aside and staging names.
bool InProduct(const char *path)
{
    const InstallContext &context = Install();
    if (TextLength(path) + sizeof kAside >= kPathCapacity) return false;
    const char *const dirs[] = {context.ProductDir, context.DictionaryDir};
    for (const char *dir : dirs)
        if (dir[0] != '\0' && StartsWithIgnoreAsciiCase(path, dir) && path[TextLength(dir)] != '\0' &&
            IsProductRelativePath(path + TextLength(dir)))
            return true;
    return false;
}

bool IsModuleInfo(const char *path)
{
    char allowed[kPathCapacity];
    return (TemporaryModuleInfoPath(allowed) && EqualsIgnoreAsciiCase(path, allowed)) ||
           (JoinPath(allowed, Install().ProductDir, "quorin.inf") && EqualsIgnoreAsciiCase(path, allowed));
}

// An uninstall entry folder: a GUID-named folder of the entries' folder.
bool IsEntryFolder(const char *path)
{
    char folder[kPathCapacity];
    if (!EntriesFolder(folder) || !StartsWithIgnoreAsciiCase(path, folder)) return false;
    const char *name = path + TextLength(folder);
    return name[0] == '{' && MadeOf(name, kGuidChars);
}

// One line read back. path is the file, module information file, entry
// folder or value name it is about.
struct Step {
    char verb;   // s(taged) a(dded) o (aside) r(eplace) d(elete) v(alue) f(lag) e(ntry) c(ommit)
    char *path;
    char *data;  // the value's old bytes (null: it was missing), the flag's section
    DWORD size;  // of data
    DWORD type;  // the value's type
    char *old;   // the flag's old text, null when it was missing
};

bool IsDash(const char *text) { return text[0] == '-' && text[1] == '\0'; }

// Reads one line into step: true when it is a line this program writes,
// about nothing outside the product.
bool ParseLine(char *line, Step &step)
{
    static const char kVerbs[][8] = {"staged", "added", "aside", "replace", "delete",
                                     "entry",  "value", "flag",  "commit"};
    step = Step{};
    char *rest = Field(line);
    int verb = 0;
    while (verb < 9 && !EqualsIgnoreAsciiCase(line, kVerbs[verb])) ++verb;
    step.verb = "saordevfc"[verb];
    step.path = rest;
    if (verb == 8) return rest == nullptr;
    if (rest == nullptr || verb == 9) return false;
    if (verb < 5) return InProduct(rest);
    if (verb == 5) return IsEntryFolder(rest);
    char *second = Field(rest);
    char *third = second != nullptr ? Field(second) : nullptr;
    if (verb == 6) {
        // value NAME - (it was missing), or value NAME TYPE DATA: the type
        // one hex digit, the data in hex.
        if (rest[0] == '\0' || !MadeOf(rest, sizeof kFieldChars) || second == nullptr) return false;
        if (IsDash(second)) return third == nullptr;
        if (third == nullptr || second[1] != '\0' || !MadeOf(second, kHexChars) || !IsHex(third)) return false;
        step.type = static_cast<DWORD>(FindChar(kFieldChars, LowerAscii(second[0])) - kFieldChars);
        step.data = third;
        step.size = DecodeHex(third);
        return true;
    }
    // flag SECTION OLD PATH: section and old text in hex, "-" when missing.
    if (third == nullptr || !IsHex(rest) || !(IsDash(second) || IsHex(second)) || !IsModuleInfo(third))
        return false;
    step.path = third;
    step.data = rest;
    DecodeHex(rest);
    step.old = IsDash(second) ? nullptr : second;
    if (step.old != nullptr) DecodeHex(second);
    return true;
}

// Puts one change back. False when it stays.
bool Undo(const Step &step)
{
    char other[kPathCapacity];
    switch (step.verb) {
    case 's':
        return StagingPath(other, step.path) && DiscardFile(other);
    case 'a':
        return DiscardFile(step.path);
    case 'o':
        if (!AsidePath(other, step.path) || !Exists(other)) return true;
        if (DiscardFile(step.path) && MoveFileA(other, step.path)) {
            LogEvent("put back %s", step.path);
            return true;
        }
        LogFailure("change to %s not made", step.path);
        return false;
    case 'v': {
        OwnedKey options;
        if (!OpenOptionsKey(options)) return false;
        LONG status = SetRegistryBytes(options.Get(), step.path, step.type,
                                       reinterpret_cast<const BYTE *>(step.data), step.size);
        return status == ERROR_SUCCESS || (step.data == nullptr && status == ERROR_FILE_NOT_FOUND);
    }
    case 'f':
        return ProbePath(step.path) <= 0 || WriteProfileText(step.data, "Install", step.old, step.path);
    case 'e': {
        char pattern[kPathCapacity];
        if (!JoinPath(pattern, step.path, "\\*")) return false;
        WIN32_FIND_DATAA found;
        OwnedFind search(FindFirstFileA(pattern, &found));
        if (search) {
            CutAfterLastBackslash(pattern);
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && JoinPath(other, pattern, found.cFileName))
                    DiscardFile(other);
            } while (FindNextFileA(search.Get(), &found));
        }
        search.Reset();
        if (RemoveDirectoryA(step.path)) LogEvent("removed directory %s", step.path);
        return !Exists(step.path);
    }
    default:
        return true;
    }
}

// Finishes one change of a committed run. False when it could not be done.
bool Commit(const Step &step)
{
    char other[kPathCapacity];
    switch (step.verb) {
    case 'o':
        return !AsidePath(other, step.path) || DiscardFile(other);
    case 'r':
        if (!StagingPath(other, step.path) || !Exists(other)) return true;
        if (MoveFileExA(other, step.path, MOVEFILE_REPLACE_EXISTING)) {
            LogEvent("replaced %s", step.path);
            return true;
        }
        break;
    case 'd':
        if (ProbePath(step.path) <= 0 || RemoveFile(step.path)) return true;
        other[0] = '\0';
        break;
    default:
        return true;
    }
    if (ScheduleIfInUse(step.path, other[0] != '\0' ? other : nullptr)) return true;
    LogFailure("change to %s not made", step.path);
    return false;
}

// Reads the journal at path and follows it: a committed run's changes are
// finished, any other run's are undone, last first. True when the file is
// done with (followed to the end and deleted, or not ours and kept aside).
// What a committed run could not finish fails the run that wrote it, not a
// later one that only tidies up after it.
bool FollowJournal(const char *path, bool ownRun)
{
    char *text = nullptr;
    Step *steps = nullptr;
    DWORD count = 0;
    bool ours = false;
    {
        OwnedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        DWORD read = 0;
        if (file && GetFileSizeEx(file.Get(), &size) && size.QuadPart < static_cast<LONGLONG>(kJournalLimit) &&
            (text = static_cast<char *>(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(size.QuadPart) + 1))) != nullptr &&
            ReadFile(file.Get(), text, static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
            read == static_cast<DWORD>(size.QuadPart)) {
            text[read] = '\0';
            DWORD lines = 0;
            for (DWORD i = 0; i < read; ++i) lines += text[i] == '\n';
            steps = static_cast<Step *>(LocalAlloc(LMEM_FIXED, (lines + 1) * sizeof(Step)));
            // Only whole lines count: a line without its end was being
            // written when the run died, and its change was never made.
            char *line = text;
            ours = steps != nullptr;
            for (char *end; ours && (end = const_cast<char *>(FindChar(line, '\n'))) != nullptr; line = end + 1) {
                *end = '\0';
                if (end > line && end[-1] == '\r') end[-1] = '\0';
                if (line == text) ours = TextLength(line) == sizeof kHeader - 3 && StartsWithIgnoreAsciiCase(kHeader, line);
                else ours = ParseLine(line, steps[count++]);
            }
            // A run killed while it began its journal changed nothing yet.
            ours = ours && (line != text || StartsWithIgnoreAsciiCase(kHeader, text));
        }
    }
    bool done = true;
    if (ours) {
        bool committed = count > 0 && steps[count - 1].verb == 'c';
        LogEvent("journal %s: %s %lu changes", path, committed ? "finishing" : "undoing", count);
        for (DWORD i = 0; i < count; ++i) {
            const Step &step = steps[committed ? i : count - 1 - i];
            if (committed && !Commit(step) && ownRun) MarkRunFailed();
            if (!committed && !Undo(step)) done = false;
        }
        if (done && !DeleteFileA(path)) LogFailure("journal %s not deleted", path);
        if (!done) LogEvent("journal %s kept: undo incomplete", path);
    } else {
        char bad[kPathCapacity];
        LogEvent("journal %s is damaged or not ours: not followed", path);
        done = JoinPath(bad, path, ".bad") && MoveFileExA(path, bad, MOVEFILE_REPLACE_EXISTING);
        if (!done) LogFailure("change to %s not made", path);
    }
    if (steps != nullptr) LocalFree(steps);
    if (text != nullptr) LocalFree(text);
    return done;
}

}  // namespace

bool BeginJournal()
{
    char path[kPathCapacity];
    gKept[0] = '\0';
    gJournalBroken = false;
    HANDLE journal = INVALID_HANDLE_VALUE;
    if (JournalPath(path)) journal = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    gJournal = journal != INVALID_HANDLE_VALUE ? journal : nullptr;
    if (gJournal == nullptr || !PutText(kHeader)) {
        NoteFailed(path);
        return false;
    }
    return true;
}

bool NoteStaged(const char *target) { return Note("staged", target); }
bool NoteAdded(const char *path) { return Note("added", path); }
bool NoteAtCommit(bool replace, const char *target) { return Note(replace ? "replace" : "delete", target); }
bool NoteEntryFolder(const char *folder) { return Note("entry", folder); }

bool SetAside(const char *path)
{
    char aside[kPathCapacity];
    if (!AsidePath(aside, path) || !DiscardFile(aside) || !Note("aside", path) || !MoveFileA(path, aside)) {
        NoteFailed(path);
        return false;
    }
    return true;
}

bool KeepCopy(const char *path)
{
    if (gJournal == nullptr || EqualsIgnoreAsciiCase(gKept, path)) return true;
    char aside[kPathCapacity];
    bool kept = Exists(path) ? AsidePath(aside, path) && CopyFileA(path, aside, FALSE) && Note("aside", path)
                             : Note("added", path);
    if (!kept) {
        NoteFailed(path);
        return false;
    }
    return CopyPath(gKept, path);
}

bool NoteOptionsValue(HKEY options, const char *name)
{
    if (gJournal == nullptr) return true;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(options, name, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return Note("value", name, "-");
    BYTE *data = status == ERROR_SUCCESS ? static_cast<BYTE *>(LocalAlloc(LMEM_FIXED, size + 1)) : nullptr;
    // Read again into its own room: a value that grew meanwhile is refused.
    bool noted = data != nullptr && RegQueryValueExA(options, name, nullptr, &type, data, &size) == ERROR_SUCCESS;
    // The type is one hex digit: every type the registry defines.
    const char digits[2] = {kFieldChars[type & 15], '\0'};
    noted = noted && type < kHexChars && PutText("value ") && PutText(name) && PutText(" ") && PutText(digits) &&
            PutText(" ") && PutHex(data, size) && PutText("\r\n");
    if (data != nullptr) LocalFree(data);
    if (!noted) NoteFailed(name);
    return noted;
}

bool NoteInstallFlag(const char *path, const char *section)
{
    if (gJournal == nullptr) return true;
    // Two different defaults tell a missing key from any text it holds.
    char old[64];
    char other[64];
    GetPrivateProfileStringA(section, "Install", "-", old, sizeof old, path);
    GetPrivateProfileStringA(section, "Install", "+", other, sizeof other, path);
    bool missing = IsDash(old) && other[0] == '+' && other[1] == '\0';
    bool noted = PutText("flag ") && PutHex(reinterpret_cast<const BYTE *>(section), TextLength(section)) &&
                 PutText(" ") &&
                 (missing ? PutText("-") : PutHex(reinterpret_cast<const BYTE *>(old), TextLength(old))) &&
                 PutText(" ") && PutText(path) && PutText("\r\n");
    if (!noted) NoteFailed(path);
    return noted;
}

bool SettleJournal()
{
    if (gJournal == nullptr) return true;
    if (!RunFailed() && !gJournalBroken) Note("commit");
    CloseHandle(gJournal);
    gJournal = nullptr;
    char path[kPathCapacity];
    return JournalPath(path) && FollowJournal(path, true);
}

bool RecoverJournal()
{
    char path[kPathCapacity];
    if (!JournalPath(path) || !Exists(path)) return true;
    LogEvent("journal %s left by an earlier run", path);
    return FollowJournal(path, false);
}
