// Reading a journal back: every line checked before any is followed, so
// that a damaged or foreign journal moves nothing (rule 7); then the changes
// undone, last first, or a committed run's finished (rule 4). Only whole
// lines count (rule 6).
#include "journal/journal_format.h"
#include "journal/journal.h"

#include <windows.h>

#include "context/entries_folder.h"
#include "context/install_context.h"
#include "context/module_info.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "support/error_box.h"
#include "support/handles.h"
#include "support/logged_writes.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

// Far more than a run writes (a line for each file, the registry's old
// texts): a larger file is not one of ours.
constexpr DWORD kJournalLimit = 4u << 20;

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

// The value of a hex digit of either case, or -1.
int Nibble(char c)
{
    c = LowerAscii(c);
    if (c >= '0' && c <= '9') return c - '0';
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Decodes hex text in place and terminates it; size gets the byte count.
// False when it is not whole hex (another character, an odd count).
bool Decode(char *text, DWORD *size)
{
    DWORD count = 0;
    for (const char *c = text; *c != '\0'; c += 2) {
        int high = Nibble(c[0]), low = Nibble(c[1]);
        if (high < 0 || low < 0) return false;
        text[count++] = static_cast<char>(high << 4 | low);
    }
    text[count] = '\0';
    *size = count;
    return true;
}

// Splits the first field off text: text ends at the space, the rest follows.
char *Field(char *text)
{
    for (char *c = text; *c != '\0'; ++c)
        if (*c == ' ') { *c = '\0'; return c + 1; }
    return nullptr;
}

// Rule 7: a file a run changes. A dictionary file or its staging copy
// (IsModuleFile, where dictionaryFiles), quorin.cfg, or a copy of
// quorin.inf; with room for the aside name, and itself no link.
bool IsOwnFile(const char *path, bool dictionaryFiles)
{
    const InstallContext &context = Install();
    char allowed[kPathCapacity];
    if (TextLength(path) + sizeof kAsideSuffix > kPathCapacity) return false;
    if (dictionaryFiles && IsModuleFile(path)) return true;
    return (EqualsIgnoreAsciiCase(path, context.ConfigPath) ||
            (TemporaryModuleInfoPath(allowed) && EqualsIgnoreAsciiCase(path, allowed)) ||
            (JoinPath(allowed, context.ProductDir, "quorin.inf") && EqualsIgnoreAsciiCase(path, allowed))) &&
           FreeOfLinks(path, LastBackslash(path) + 1);
}

// The files of entry folder path, each deleted when discard is set: the
// count of files but setup.ini, or more than any entry holds when it holds
// a folder. A missing folder holds none.
int EntryFiles(const char *path, bool discard)
{
    char file[kPathCapacity];
    int others = 0;
    if (!JoinPath(file, path, "\\*")) return 2;
    const size_t folder = TextLength(file) - 1;
    WIN32_FIND_DATAA found;
    OwnedFind search(FindFirstFileA(file, &found));
    if (search) do {
        file[folder] = '\0';
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // "." and ".." are the folder itself and the entries' folder.
            if (found.cFileName[0] != '.' || found.cFileName[TextLength(found.cFileName) - 1] != '.') return 2;
        } else {
            if (!EqualsIgnoreAsciiCase(found.cFileName, "setup.ini")) ++others;
            if (discard && AppendPath(file, found.cFileName)) DiscardFile(file);
        }
    } while (FindNextFileA(search.Get(), &found));
    return others;
}

// Rule 7: an entry folder a run made, or was making when it died: a
// GUID-named folder of the entries' folder, missing, or holding setup.ini
// and one program at most, filed under the product's name (or under none
// yet: the run died before it wrote the name, or its data never reached
// the disk).
bool IsOwnEntry(const char *path)
{
    char folder[kPathCapacity];
    if (!EntriesFolder(folder) || !StartsWithIgnoreAsciiCase(path, folder)) return false;
    const char *name = path + TextLength(folder);
    char appName[kPathCapacity];
    if (name[0] != '{' || !MadeOf(name, kGuidChars) || !JoinPath(folder, path, "\\setup.ini")) return false;
    GetPrivateProfileStringA(kEntrySection, "AppName", "", appName, sizeof appName, folder);
    return (appName[0] == '\0' || StartsWithIgnoreAsciiCase(appName, kEntryNamePrefix)) && EntryFiles(path, false) <= 1;
}

// Rule 7: the Options values the registration writes, TranLangs,
// Directions and LanguageN (N from 1, no leading zero), and no other.
bool IsLanguageValue(const char *name)
{
    if (EqualsIgnoreAsciiCase(name, kLetterListValue) || EqualsIgnoreAsciiCase(name, kDirectionsValue)) return true;
    if (!StartsWithIgnoreAsciiCase(name, kLanguageValuePrefix)) return false;
    const char *number = name + sizeof kLanguageValuePrefix - 1;
    return number[0] > '0' && TextLength(number) < 10 && MadeOf(number, 10);
}

// One line read back. path is the file, module information file, entry
// folder or value name it is about.
struct Step {
    JournalVerb verb;
    char *path;
    char *data;     // the value's bytes (null: it was missing), or the file's stamp
    DWORD size;     // of data
    DWORD type;     // the value's type
    char *section;  // of the file, that the run changed
};

bool IsDash(const char *text) { return text[0] == '-' && text[1] == '\0'; }

// Reads one line into step: true when it is a line this program writes,
// about nothing outside the product.
bool ParseLine(char *line, Step &step)
{
    step = Step{};
    char *rest = Field(line);
    int verb = 0;
    while (verb < kVerbCount && !EqualsIgnoreAsciiCase(line, kJournalVerbs[verb])) ++verb;
    step.verb = static_cast<JournalVerb>(verb);
    step.path = rest;
    if (verb == kCommit) return rest == nullptr;
    if (rest == nullptr || verb == kVerbCount) return false;
    if (verb < kWrote) return IsOwnFile(rest, true);
    if (verb == kEntry) return IsOwnEntry(rest);
    char *second = Field(rest);
    char *third = second != nullptr ? Field(second) : nullptr;
    if (verb == kWrote) {
        // wrote STAMP SECTION PATH: an INI file's stamp and section in hex
        // (the section's length, unused, lands in type).
        step.path = third;
        step.data = rest;
        step.section = second;
        return third != nullptr && Decode(rest, &step.size) && step.size == sizeof(FileStamp) &&
               Decode(second, &step.type) && IsOwnFile(third, false);
    }
    // value NAME - (it was missing), or value NAME TYPE DATA: the type one
    // hex digit, the data in hex. now lines alike.
    if (!IsLanguageValue(rest) || second == nullptr) return false;
    if (IsDash(second)) return third == nullptr;
    int type = second[0] != '\0' && second[1] == '\0' ? Nibble(second[0]) : -1;
    step.type = static_cast<DWORD>(type);
    step.data = third;
    // Only what the writer notes: the types the registration writes, and
    // no more than it can read, so that no undo leaves a value that stops
    // every later run.
    return third != nullptr && IsNotedType(step.type) && Decode(third, &step.size) && step.size <= kValueCapacity;
}

// Puts one change back. False when it stays.
bool Undo(const Step &step)
{
    char other[kPathCapacity];
    switch (step.verb) {
    case kAdded:
    case kAside: {
        // Whatever was staged to replace the file goes first; the installed
        // copy is put back whether it went or not. A staging copy another
        // program holds for good stays for a later run: the journal stays,
        // naming it.
        const bool stagingGone = StagingPath(other, step.path) && DiscardFile(other);
        if (step.verb == kAdded) return DiscardFile(step.path) && stagingGone;
        if (!AsidePath(other, step.path) || ProbePath(other) == kProbeMissing) return stagingGone;
        // A kept copy of a file never rewritten, or rewritten to what it
        // was, is simply deleted: nothing is moved over a file that another
        // program may hold.
        if (SameFile(other, step.path)) return DiscardFile(other) && stagingGone;
        if (DiscardFile(step.path) && RenameFile(other, step.path, 0)) {
            LogEvent("put back %s", step.path);
            return stagingGone;
        }
        LogFailure("change to %s not made", step.path);
        return false;
    }
    case kValue: {
        OwnedKey options;
        if (!OpenOptionsKey(options)) return false;
        LONG status = SetRegistryBytes(options.Get(), step.path, step.type,
                                       reinterpret_cast<const BYTE *>(step.data), step.size);
        return status == ERROR_SUCCESS || (step.data == nullptr && status == ERROR_FILE_NOT_FOUND);
    }
    case kEntry:
        EntryFiles(step.path, true);
        if (RemoveDirectoryA(step.path)) LogEvent("removed directory %s", step.path);
        return ProbePath(step.path) == kProbeMissing;
    default:
        return true;
    }
}

// Finishes one change of a committed run. False when it could not be done.
bool Commit(const Step &step)
{
    char other[kPathCapacity];
    switch (step.verb) {
    case kAside:
        return !AsidePath(other, step.path) || DiscardFile(other);
    case kReplace:
        if (!StagingPath(other, step.path) || ProbePath(other) == kProbeMissing) return true;
        if (RenameFile(other, step.path, MOVEFILE_REPLACE_EXISTING)) {
            LogEvent("replaced %s", step.path);
            return true;
        }
        break;
    case kDelete:
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

// A section of an INI file as the profile functions hand it over:
// zero-initialised, so none of it takes room in the file.
char gSection[4096];

// A file the run wrote, changed since by someone else (the product keeps
// its own settings in quorin.cfg): only the section the run changed goes
// back, from the kept copy, which then goes, so that the file's aside line
// has nothing left to do. A file that is as the run wrote it, or empty (a
// power cut while it was rewritten), or a kept copy without the section,
// gets its whole kept copy back.
void PutBackSection(const Step &step)
{
    char aside[kPathCapacity];
    FileStamp now;
    if (!AsidePath(aside, step.path) || ProbePath(step.path) <= 0 || !ReadFileStamp(step.path, &now) ||
        SameBytes(&now, step.data, sizeof now))
        return;
    // Neither missing (0) nor cut short (the buffer's size less 2).
    DWORD size = GetPrivateProfileSectionA(step.section, gSection, sizeof gSection, aside);
    if (size - 1 < sizeof gSection - 3 && WritePrivateProfileSectionA(step.section, gSection, step.path) &&
        FlushFile(step.path) && DiscardFile(aside))
        LogEvent("put back [%s] of %s", step.section, step.path);
}

// True when the Options value holds what the run noted it wrote.
bool HoldsNoted(const Step &step)
{
    OwnedKey options;
    BYTE data[kValueCapacity];
    DWORD type = 0, size = sizeof data;
    if (!OpenOptionsKey(options)) return true;
    LONG read = RegQueryValueExA(options.Get(), step.path, nullptr, &type, data, &size);
    if (step.data == nullptr) return read == ERROR_FILE_NOT_FOUND;
    return read == ERROR_SUCCESS && type == step.type && size == step.size && SameBytes(data, step.data, size);
}

// The shortest line a journal holds, "commit" and its end: a file of size
// bytes holds at most size / kShortestLine + 1 of them.
constexpr DWORD kShortestLine = 8;

// A journal read back: its steps, one for each whole line, and after them
// the text they point into, in one block.
struct Lines {
    Step *steps = nullptr;
    DWORD count = 0;
    ~Lines()
    {
        if (steps != nullptr) LocalFree(steps);
    }
};

// An undo keeps what others changed since the run wrote it (rule 4): the
// files' later changes outside the run's section, and an Options value no
// longer what the run wrote, whose value line is then passed over.
void KeepLaterEdits(Lines &lines)
{
    for (DWORD i = 0; i < lines.count; ++i) {
        const Step &step = lines.steps[i];
        if (step.verb == kWrote) PutBackSection(step);
        if (step.verb == kNow && !HoldsNoted(step))
            for (DWORD j = 0; j < i; ++j)
                if (lines.steps[j].verb == kValue && EqualsIgnoreAsciiCase(lines.steps[j].path, step.path))
                    lines.steps[j].verb = kNow;  // left as it is now
    }
}

// Reads the journal at path into lines; true when it is one of ours.
bool ReadJournal(const char *path, Lines &lines)
{
    OwnedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    LARGE_INTEGER size{};
    DWORD read = 0;
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart >= static_cast<LONGLONG>(kJournalLimit)) return false;
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    const DWORD capacity = length / kShortestLine + 1;
    lines.steps = static_cast<Step *>(LocalAlloc(LMEM_FIXED, capacity * sizeof(Step) + length + 1));
    char *text = reinterpret_cast<char *>(lines.steps + capacity);
    if (lines.steps == nullptr || !ReadFile(file.Get(), text, length, &read, nullptr) || read != length) return false;
    text[read] = '\0';
    // Rule 6: only whole lines count, and nothing from the first zero byte
    // on (the text ends there). A shorter line than any a run writes is not
    // ours either.
    char *line = text;
    for (char *end; (end = const_cast<char *>(FindChar(line, '\n'))) != nullptr; line = end + 1) {
        *end = '\0';
        if (end > line && end[-1] == '\r') end[-1] = '\0';
        if (line == text ? !EqualsIgnoreAsciiCase(line, kJournalHeader)
                         : lines.count == capacity || !ParseLine(line, lines.steps[lines.count++]))
            return false;
    }
    // A run cut off while it began its journal changed nothing yet.
    return line != text || StartsWithIgnoreAsciiCase(kJournalHeader, text);
}

}  // namespace

bool ForEachLine(unsigned verbs, bool (*step)(const char *path, bool added))
{
    char path[kPathCapacity];
    Lines lines;
    if (!JournalPath(path) || !ReadJournal(path, lines)) return false;
    for (DWORD i = 0; i < lines.count; ++i) {
        const Step &noted = lines.steps[i];
        if ((1u << noted.verb & verbs) && !step(noted.path, noted.verb == kAdded)) return false;
    }
    return true;
}

static_assert(kStagedLines == (1u << kAdded | 1u << kAside), "the staged lines' verbs");

bool FollowJournal(const char *path, bool ownRun)
{
    Lines lines;
    bool done = true, held = false;
    if (ReadJournal(path, lines)) {
        const DWORD count = lines.count;
        bool committed = count > 0 && lines.steps[count - 1].verb == kCommit;
        LogEvent("journal %s: %s %lu changes", path, committed ? "finishing" : "undoing", count - committed);
        if (!committed) KeepLaterEdits(lines);
        for (DWORD i = 0; i < count; ++i) {
            const Step &step = lines.steps[committed ? i : count - 1 - i];
            // A kept copy another program holds is no reason to fail a
            // complete run: the journal stays, naming it, for the next run.
            if (committed && !Commit(step)) {
                if (step.verb == kAside)
                    held = true;
                else if (ownRun)
                    MarkRunFailed();
            }
            if (!committed && !Undo(step)) done = false;
        }
        // Rule 5: what the undo rewrote is on disk before the journal goes.
        if (!committed && done) done = FlushOptionsKey();
        if (!done || held)
            LogEvent("journal %s kept for the next setup", path);
        else if (!DeleteFileA(path))
            LogFailure("journal %s not deleted", path);
    } else {
        char bad[kPathCapacity];
        LogEvent("journal %s is damaged or not ours: not followed", path);
        done = JoinPath(bad, path, ".bad") && MoveFileExA(path, bad, MOVEFILE_REPLACE_EXISTING);
        if (!done) LogFailure("change to %s not made", path);
    }
    return done;
}
