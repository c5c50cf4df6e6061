// Copies the unpacked dictionary files from the work directory into the
// product's dictionary or product directory, leaving newer installed copies
// in place, while the system shows the busy cursor.
#include "payload/deploy_files.h"

#include <windows.h>

#include "context/install_context.h"
#include "context/module_info.h"
#include "fs/file_ops.h"
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

// What a file search reports of a target, to tell afterwards whether a
// failed copy touched it.
struct TargetState {
    bool exists = false;
    DWORD sizeLow = 0;
    FILETIME written{};
};

TargetState ReadTargetState(const char *path)
{
    TargetState state;
    WIN32_FIND_DATAA found;
    OwnedFind find(FindFirstFileA(path, &found));
    if (!find) return state;
    state.exists = true;
    state.sizeLow = found.nFileSizeLow;
    state.written = found.ftLastWriteTime;
    return state;
}

// A copy that failed part way (a full disk) leaves a truncated file under
// the name it was given. A target the copy never opened (held by another
// program, read-only) is unchanged and stays.
void RemovePartialCopy(const char *target, const TargetState &before)
{
    TargetState after = ReadTargetState(target);
    if (!after.exists) return;
    if (before.exists && after.sizeLow == before.sizeLow && CompareFileTime(&after.written, &before.written) == 0)
        return;
    DiscardFile(target);
}

enum class Deployed { InPlace, Waiting, NotOurs, Failed };

// A target another program holds keeps its old copy for now, and the new one
// waits under the staging name: an interactive run tries it again once the
// product has closed (RetryHeldFiles); a silent one, which never closes the
// product, leaves it to the next restart of Windows.
bool WaitForTarget(const char *staging, const char *target)
{
    if (Install().Silent) return ScheduleIfInUse(target, staging);
    if (!InUse(target)) return false;
    LogEvent("%s in use: tried again when the product has closed", target);
    return true;
}

// Copies source to target through the staging name, renamed into place once
// whole. A partial file under the final name would count as installed, and
// with its new time as newer than the payload, so every later install
// would keep it: a run killed or a disk filled during the copy leaves at
// most the staging file, which the next run removes. A read-only target
// refuses the rename and stays as it was; a held one waits (WaitForTarget).
Deployed CopyIntoPlace(const char *source, const char *target)
{
    char staging[kPathCapacity];
    if (!StagingPath(staging, target)) {
        // No room for the staging name: copied straight, and what a failed
        // copy leaves under the target's name is removed.
        TargetState before = ReadTargetState(target);
        if (CopyFileA(source, target, FALSE)) return Deployed::InPlace;
        DWORD error = GetLastError();
        RemovePartialCopy(target, before);
        SetLastError(error);
        return Deployed::Failed;
    }
    // A read-only target is not replaced, as CopyFileA would refuse it; the
    // rename alone would not everywhere.
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return Deployed::Failed;
    }
    if (CopyFileA(source, staging, FALSE)) {
        if (MoveFileExA(staging, target, MOVEFILE_REPLACE_EXISTING)) return Deployed::InPlace;
        DWORD error = GetLastError();
        if (WaitForTarget(staging, target)) return Deployed::Waiting;
        SetLastError(error);
    }
    DWORD error = GetLastError();  // of the call that failed, for the log
    DiscardFile(staging);
    SetLastError(error);
    return Deployed::Failed;
}

bool IsDictionaryName(const char *name)
{
    const char *extension = FromLastDot(name);
    return extension != nullptr && EqualsIgnoreAsciiCase(extension, ".qd");
}

// Copies one lower-cased entry name from the work directory (source holds
// the work directory) to the destination (target holds it). Both buffers
// are cut back to their directories before returning. InPlace when the file
// was copied or needed no copy; Waiting when its target is held; Failed when
// a dictionary file could not be put in place.
Deployed DeployOne(char *source, char *target, const char *name)
{
    size_t sourceLength = TextLength(source);
    size_t targetLength = TextLength(target);
    const bool dictionaryFile = IsDictionaryName(name);
    Deployed result = dictionaryFile ? Deployed::Failed : Deployed::NotOurs;
    // A name that would make either path 260 characters or longer is
    // passed over: the paths would no longer name the file.
    if (AppendPath(source, name) && AppendPath(target, name)) {
        char staging[kPathCapacity];
        // Left by a killed run; beside a held target it may instead be the
        // source of the replacement an earlier run left for the restart,
        // which this run copies over or leaves as it is.
        if (dictionaryFile && StagingPath(staging, target) && !InUse(target)) DiscardFile(staging);
        if (CopyNotNeeded(source, target)) {
            LogEvent("kept %s: installed copy is newer", target);
            result = Deployed::InPlace;
        } else if (!dictionaryFile) {
            LogEvent("passed over %s: not a dictionary file", source);
        } else {
            result = CopyIntoPlace(source, target);
            if (result == Deployed::InPlace) LogEvent("copied %s to %s", source, target);
            if (result == Deployed::Failed)
                LogFailure("copy %s to %s failed", source, target);
        }
    } else {
        LogEvent("passed over %s: its path would be too long", name);
    }
    source[sourceLength] = '\0';
    target[targetLength] = '\0';
    return result;
}

// Once the product has closed: a staging copy left waiting beside its target
// is renamed into place, or left to the next restart when the target is
// still held (a product that did not close, another program).
Deployed RetryOne(char *, char *target, const char *name)
{
    size_t targetLength = TextLength(target);
    char staging[kPathCapacity];
    Deployed result = Deployed::NotOurs;
    if (IsDictionaryName(name) && AppendPath(target, name) && StagingPath(staging, target) &&
        GetFileAttributesA(staging) != INVALID_FILE_ATTRIBUTES) {
        result = Deployed::InPlace;
        if (MoveFileExA(staging, target, MOVEFILE_REPLACE_EXISTING)) {
            LogEvent("replaced %s after the product closed", target);
        } else {
            DWORD error = GetLastError();
            if (!ScheduleIfInUse(target, staging)) {
                LogEvent("copy %s to %s failed: error %lu", staging, target, error);
                DiscardFile(staging);
                result = Deployed::Failed;
            }
        }
    }
    target[targetLength] = '\0';
    return result;
}

// Walks the work directory and hands every plain file but archives to step.
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

        Deployed deployed = step(source, target, name);
        if (deployed == Deployed::InPlace || deployed == Deployed::Waiting) result = true;
        // Registration still follows when another file is in place, but
        // the run does not report success.
        if (deployed == Deployed::Failed) MarkRunFailed();
    } while (FindNextFileA(search.Get(), &entry));
    return result;
}

}  // namespace

bool DeployModuleFiles()
{
    // The cursor is restored on every path: everything between the two
    // calls returns through WalkWorkDirectory.
    BusyCursor cursor;
    ShowBusyCursor(&cursor);
    bool result = WalkWorkDirectory(DeployOne);
    HideBusyCursor(&cursor);
    return result;
}

void RetryHeldFiles() { WalkWorkDirectory(RetryOne); }
