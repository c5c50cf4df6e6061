// Copies the unpacked dictionary files from the work directory into the
// product's dictionary or product directory, leaving newer installed copies
// in place, while the system shows the busy cursor.
#include "payload/deploy_files.h"

#include <windows.h>

#include "context/install_context.h"
#include "context/module_info.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "fs/product_path.h"
#include "journal/journal.h"
#include "journal/journal_format.h"
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

enum class Deployed { InPlace, Staged, NotOurs, Failed };

// The first phase, for one entry of the work directory: every file the run
// installs is copied whole under its staging name, and flushed (rule 2 of
// the journal), before any installed file changes, so that a full disk or a
// target that cannot be replaced stops the run while the product is as it
// was, and no power cut leaves a renamed copy without its data. A read-only
// target, or a folder under its name, is refused here, as the rename later
// would be. The entry name is joined to both directories (source holds the
// work directory, target the destination); both are cut back on return.
Deployed StageOne(char *source, char *target, const char *name)
{
    size_t sourceLength = TextLength(source);
    size_t targetLength = TextLength(target);
    const bool dictionaryFile = IsModuleFileName(name, false);
    Deployed result = dictionaryFile ? Deployed::Staged : Deployed::NotOurs;
    char staging[kPathCapacity];
    char aside[kPathCapacity];
    // A name that would make any of the paths 260 characters or longer is
    // passed over: they would no longer name the file.
    if (!AppendPath(source, name) || !AppendPath(target, name) || !StagingPath(staging, target) ||
        !AsidePath(aside, target)) {
        if (dictionaryFile) {
            LogEvent("cannot install %s: path too long", name);
            result = Deployed::Failed;
        }
        source[sourceLength] = '\0';
        target[targetLength] = '\0';
        return result;
    }
    // The target is looked up once: most installs meet no installed copy,
    // and asking again after a missing name costs a search of the folder.
    const DWORD attributes = GetFileAttributesA(target);
    const bool missing = attributes == INVALID_FILE_ATTRIBUTES;
    if (missing ? ProbePath(source) <= 0 : CopyNotNeeded(source, target)) result = Deployed::InPlace;
    // Beside a held target a staging copy may be the source of the
    // replacement an earlier run left for the restart, which this run
    // leaves as it is, or sets aside (so that a failed run can put it back)
    // before it stages its own copy under that name. Any other is left by a
    // killed run, and is copied over.
    const bool held = dictionaryFile && !missing && InUse(target);
    if (result == Deployed::InPlace) {
        if (dictionaryFile && !held) DiscardFile(staging);
        LogEvent("kept %s: installed copy is newer", target);
    } else if (!dictionaryFile) {
        LogEvent("passed over %s: not a dictionary file", source);
    } else if (!missing && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        LogEvent("cannot install %s: read-only or a folder", target);
        result = Deployed::Failed;
    } else if ((held && GetFileAttributesA(staging) != INVALID_FILE_ATTRIBUTES && !SetAside(staging)) ||
               !NoteStaged(target, missing) ||
               !(CopyFileTo(source, staging, FALSE) || (DiscardFile(staging) && CopyFileTo(source, staging, FALSE))) ||
               !FlushFile(staging)) {
        LogFailure("copy %s to %s failed", source, staging);
        DiscardFile(staging);
        result = Deployed::Failed;
    }
    source[sourceLength] = '\0';
    target[targetLength] = '\0';
    return result;
}

// The second phase, over the staged copies as the journal lists them:
// each is moved into place, the installed file moved aside first (a rename,
// so that a failed run can move it back). A target another program holds
// keeps its old copy for now: an interactive run tries it again once the
// product has closed (RetryHeldFiles); a silent one, which never closes the
// product, has it replaced when the run commits, at once or at the next
// restart of Windows. Nothing is left staged under a target moved in
// already, or under a staging copy set aside.
bool PutInPlace(const char *target, bool added, bool retry)
{
    char staging[kPathCapacity];
    // After a failure nothing more changes, since it is all put back. A new
    // file's copy is simply moved (a missing one is nothing staged); beside
    // an installed one, the staging copy is looked for first.
    if (RunFailed() || !StagingPath(staging, target) ||
        (!added && GetFileAttributesA(staging) == INVALID_FILE_ATTRIBUTES))
        return true;
    const char *name = target + LastBackslash(target) + 1;
    if (!added && InUse(target)) {
        if (!Install().Silent && !retry) {
            LogEvent("%s in use: tried again when the product has closed", target);
            return true;
        }
        // A scanner's hold passes; the product's lasts until it closes.
        if (StillInUse(target)) return NoteAtCommit(true, target);
    }
    if ((added || MoveAside(target)) && RenameFile(staging, target, 0)) {
        if (retry)
            LogEvent("replaced %s after the product closed", target);
        else
            LogEvent("copied %s%s to %s", Install().WorkDir, name, target);
        return true;
    }
    if (added && GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    LogFailure("change to %s not made", target);
    return false;
}

bool MoveOne(const char *target, bool added) { return PutInPlace(target, added, false); }
bool RetryOne(const char *target, bool added) { return PutInPlace(target, added, true); }

// Walks the work directory and stages every plain file but archives; says
// in the log what it finds.
bool WalkWorkDirectory()
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
    LogEvent("dictionary files go to %s", target);

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
            LogEvent("passed over %s%s: not in the payload", source, name);
            continue;
        }

        Deployed deployed = StageOne(source, target, name);
        if (deployed == Deployed::InPlace || deployed == Deployed::Staged) result = true;
        // The run fails as a whole: what it changed is put back.
        if (deployed == Deployed::Failed) MarkRunFailed();
    } while (FindNextFileA(search.Get(), &entry));
    return result && !RunFailed();
}

}  // namespace

bool DeployModuleFiles()
{
    // The cursor is restored on every path: everything between the two
    // calls returns through one expression.
    BusyCursor cursor;
    ShowBusyCursor(&cursor);
    // Every file is staged whole before the second phase changes any
    // installed one, and that phase takes exactly the files the journal
    // notes as staged. Rule 1: one flush puts every staged file's line on
    // disk before the first rename.
    bool result = BeginJournal() && WalkWorkDirectory() && FlushJournal() && ForEachLine(kStagedLines, MoveOne) && !RunFailed();
    HideBusyCursor(&cursor);
    return result;
}

void RetryHeldFiles() { ForEachLine(kStagedLines, RetryOne); }
