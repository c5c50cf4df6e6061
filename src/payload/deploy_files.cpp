// Copies the unpacked dictionary files from the work directory into the
// product's dictionary or product directory, leaving newer installed copies
// in place, while the system shows the busy cursor.
#include "payload/deploy_files.h"

#include <windows.h>

#include "context/install_context.h"
#include "context/module_info.h"
#include "fs/file_ops.h"
#include "journal/journal.h"
#include "payload/busy_cursor.h"
#include "payload/payload_archive.h"
#include "support/error_box.h"
#include "support/handles.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

// The destination for the whole run, chosen from the module's first file:
// a "mod0" under "diction\" (any case) means the dictionary directory.
const char *DestinationDirectory()
{
    char firstFile[kPathCapacity];
    ReadModuleKey("mod0", "", firstFile, sizeof firstFile);
    if (firstFile[0] != '\0' && StartsWithIgnoreAsciiCase(firstFile, "diction\\"))
        return Install().DictionaryDir;
    return Install().ProductDir;
}

enum class Deployed { InPlace, Staged, Waiting, NotOurs, Failed };

bool IsDictionaryName(const char *name)
{
    const char *extension = FromLastDot(name);
    return extension != nullptr && EqualsIgnoreAsciiCase(extension, ".qd");
}

// Joins the entry name to both directories (source holds the work
// directory, target the destination) and says what the file needs: NotOurs
// for a file that is not a dictionary file, InPlace for one whose installed
// copy is newer, Staged for one to be put in place, Failed for a dictionary
// file whose paths would no longer name it. Every phase asks the same
// questions, so every phase takes the same files.
Deployed Classify(char *source, char *target, const char *name)
{
    const bool dictionaryFile = IsDictionaryName(name);
    // A name that would make either path 260 characters or longer is
    // passed over: the paths would no longer name the file.
    if (!AppendPath(source, name) || !AppendPath(target, name)) return dictionaryFile ? Deployed::Failed : Deployed::NotOurs;
    if (CopyNotNeeded(source, target)) return Deployed::InPlace;
    return dictionaryFile ? Deployed::Staged : Deployed::NotOurs;
}

// The first phase: every file the run installs is copied whole under its
// staging name, and flushed (rule 2 of the journal), before any installed
// file changes, so that a full disk or a target that cannot be replaced
// stops the run while the product is as it was, and no power cut leaves a
// renamed copy without its data. A read-only target, or a folder under its
// name, is refused here, as the rename later would be. Both buffers are cut
// back on return.
Deployed StageOne(char *source, char *target, const char *name)
{
    size_t sourceLength = TextLength(source);
    size_t targetLength = TextLength(target);
    Deployed result = Classify(source, target, name);
    char staging[kPathCapacity];
    char aside[kPathCapacity];
    // Left by a killed run; beside a held target it may instead be the
    // source of the replacement an earlier run left for the restart, which
    // this run leaves as it is, or sets aside (so that a failed run can put
    // it back) before it stages its own copy under that name.
    const bool ours = result != Deployed::Failed && IsDictionaryName(name) && StagingPath(staging, target);
    const bool held = ours && InUse(target);
    if (ours && !held) DiscardFile(staging);
    DWORD attributes = GetFileAttributesA(target);
    if (result == Deployed::InPlace) {
        LogEvent("kept %s: installed copy is newer", target);
    } else if (result == Deployed::NotOurs) {
        if (!IsDictionaryName(name)) LogEvent("passed over %s: not a dictionary file", source);
    } else if (result == Deployed::Failed || !StagingPath(staging, target) || !JoinPath(aside, target, ".old")) {
        LogEvent("cannot install %s: path too long", name);
        result = Deployed::Failed;
    } else if (attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        LogEvent("cannot install %s: read-only or a folder", target);
        result = Deployed::Failed;
    } else if ((held && GetFileAttributesA(staging) != INVALID_FILE_ATTRIBUTES && !SetAside(staging)) ||
               !NoteInstalled(target) || !CopyFileA(source, staging, FALSE) || !FlushFile(staging)) {
        LogFailure("copy %s to %s failed", source, staging);
        DiscardFile(staging);
        result = Deployed::Failed;
    }
    source[sourceLength] = '\0';
    target[targetLength] = '\0';
    return result;
}

// Moves one staged copy into place, the installed file moved aside first
// (a rename, so that a failed run can move it back). A target another
// program holds keeps its old copy for now: an interactive run tries it
// again once the product has closed (RetryHeldFiles); a silent one, which
// never closes the product, has it replaced when the run commits, at once
// or at the next restart of Windows.
Deployed PutInPlace(const char *source, const char *target, bool retry)
{
    char staging[kPathCapacity];
    StagingPath(staging, target);  // fitted when it was staged
    // Noted when it was staged: added, or moved aside.
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES) {
        if (MoveFileExA(staging, target, 0)) {
            LogEvent("copied %s to %s", source, target);
            return Deployed::InPlace;
        }
    } else if (InUse(target)) {
        if (!Install().Silent && !retry) {
            LogEvent("%s in use: tried again when the product has closed", target);
            return Deployed::Waiting;
        }
        return NoteAtCommit(true, target) ? Deployed::Waiting : Deployed::Failed;
    } else if (MoveAside(target) && MoveFileExA(staging, target, 0)) {
        if (retry)
            LogEvent("replaced %s after the product closed", target);
        else
            LogEvent("copied %s to %s", source, target);
        return Deployed::InPlace;
    }
    LogFailure("change to %s not made", target);
    return Deployed::Failed;
}

Deployed SwapOne(char *source, char *target, const char *name, bool retry)
{
    size_t sourceLength = TextLength(source);
    size_t targetLength = TextLength(target);
    Deployed result = Classify(source, target, name);
    char staging[kPathCapacity];
    // A retry meets only the copies that were left waiting; after a
    // failure nothing more changes, since it is all put back.
    bool take = result == Deployed::Staged && !RunFailed();
    if (take && retry)
        take = StagingPath(staging, target) && GetFileAttributesA(staging) != INVALID_FILE_ATTRIBUTES;
    if (take) result = PutInPlace(source, target, retry);
    source[sourceLength] = '\0';
    target[targetLength] = '\0';
    return result;
}

Deployed MoveOne(char *source, char *target, const char *name) { return SwapOne(source, target, name, false); }
Deployed RetryOne(char *source, char *target, const char *name) { return SwapOne(source, target, name, true); }

// Walks the work directory and hands every plain file but archives to step;
// the first walk of a run (the staging one) says in the log what it finds.
bool WalkWorkDirectory(Deployed (*step)(char *source, char *target, const char *name))
{
    char source[kPathCapacity];
    char target[kPathCapacity];
    if (!JoinPath(source, Install().WorkDir, "*.*"))
        return false;

    WIN32_FIND_DATAA entry;
    OwnedFind search(FindFirstFileA(source, &entry));
    if (!search) return false;
    CutAfterLastBackslash(source);
    if (!CopyPath(target, DestinationDirectory())) return false;
    const bool first = step == StageOne;
    if (first) LogEvent("dictionary files go to %s", target);

    bool result = false;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;

        char name[MAX_PATH];
        if (!CopyText(name, sizeof name, entry.cFileName)) continue;
        LowerAsciiInPlace(name);
        // The payload archive, and anything named like one from its first
        // dot on, stays where it is.
        const char *fromFirstDot = FromFirstDot(name);
        if (fromFirstDot != nullptr && EqualsIgnoreAsciiCase(fromFirstDot, ".zip")) continue;
        // Only the module's own files: anything else in the work folder was
        // put there by someone other than the unpacker, and never reaches
        // the product.
        if (!PayloadListsEntry(name)) {
            if (first) LogEvent("passed over %s%s: not in the payload", source, name);
            continue;
        }

        Deployed deployed = step(source, target, name);
        if (deployed == Deployed::InPlace || deployed == Deployed::Staged || deployed == Deployed::Waiting)
            result = true;
        // The run fails as a whole: what it changed is put back.
        if (deployed == Deployed::Failed) MarkRunFailed();
    } while (FindNextFileA(search.Get(), &entry));
    return result && !RunFailed();
}

}  // namespace

bool DeployModuleFiles()
{
    // The cursor is restored on every path: everything between the two
    // calls returns through WalkWorkDirectory.
    BusyCursor cursor;
    ShowBusyCursor(&cursor);
    // Every file is staged whole before the second walk changes any
    // installed one; both walks weigh the same files the same way. Rule 1:
    // one flush puts every staged file's line on disk before the first
    // rename.
    bool result = BeginJournal() && WalkWorkDirectory(StageOne) && FlushJournal() && WalkWorkDirectory(MoveOne);
    HideBusyCursor(&cursor);
    return result;
}

void RetryHeldFiles() { WalkWorkDirectory(RetryOne); }
