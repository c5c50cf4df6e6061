// Copies the unpacked dictionary files from the work directory into the
// product's dictionary or product directory, leaving newer installed copies
// in place, while the system shows the busy cursor.
#include "payload/deploy_files.h"

#include <windows.h>

#include "fs/file_ops.h"
#include "payload/busy_cursor.h"
#include "context/install_context.h"
#include "context/module_info.h"
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

// Copies one lower-cased entry name from the work directory (source holds
// the work directory) to the destination (target holds it). Both buffers
// are cut back to their directories before returning. True when the file
// was copied or needed no copy.
bool DeployOne(char *source, char *target, const char *name)
{
    size_t sourceLength = TextLength(source);
    size_t targetLength = TextLength(target);
    bool done = false;
    // A name that would make either path 260 characters or longer is
    // passed over: the paths would no longer name the file.
    if (AppendText(source, kPathCapacity, name) && AppendText(target, kPathCapacity, name)) {
        if (CopyNotNeeded(source, target)) {
            LogEvent("kept %s: installed copy is newer", target);
            done = true;
        } else {
            const char *extension = FromLastDot(name);
            if (extension != nullptr && EqualsIgnoreAsciiCase(extension, ".qd"))
                done = CopyFileA(source, target, FALSE) != FALSE;
            if (done)
                LogEvent("copied %s to %s", source, target);
            else if (extension != nullptr && EqualsIgnoreAsciiCase(extension, ".qd"))
                LogEvent("copy %s to %s failed: error %lu", source, target, GetLastError());
            else
                LogEvent("passed over %s: not a dictionary file", source);
        }
    } else {
        LogEvent("passed over %s: its path would be too long", name);
    }
    source[sourceLength] = '\0';
    target[targetLength] = '\0';
    return done;
}

// Walks the work directory and deploys every plain file but archives.
bool DeployWorkDirectory()
{
    char source[kPathCapacity];
    char target[kPathCapacity];
    if (!CopyText(source, sizeof source, Install().WorkDir) || !AppendText(source, sizeof source, "*.*"))
        return false;

    WIN32_FIND_DATAA entry;
    OwnedFind search(FindFirstFileA(source, &entry));
    if (!search) return false;
    CutAfterLastBackslash(source);
    if (!CopyText(target, sizeof target, DestinationDirectory())) return false;
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

        if (DeployOne(source, target, name)) result = true;
    } while (FindNextFileA(search.Get(), &entry));
    return result;
}

}  // namespace

bool DeployModuleFiles()
{
    // The cursor is restored on every path: everything between the two
    // calls returns through DeployWorkDirectory.
    BusyCursor cursor;
    ShowBusyCursor(&cursor);
    bool result = DeployWorkDirectory();
    HideBusyCursor(&cursor);
    return result;
}
