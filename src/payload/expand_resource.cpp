// Writes the payload archive out of the program's resources and has the
// product's unpacker library unpack it in the work directory. The payload is
// checked against its recorded CRC-32 before anything is written. The
// archive is written through a view of the file itself, so the resource is
// copied once and never passes through a buffer of ours.
#include "payload/expand_resource.h"

#include <windows.h>
#include <string.h>

#include "context/install_context.h"
#include "fs/path_probe.h"
#include "payload/crc32.h"
#include "support/handles.h"
#include "support/libraries.h"
#include "support/resources.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

// The payload's CRC-32 as the module builder recorded it: four bytes, little
// endian, in RCDATA 107.
constexpr WORD kChecksumResource = 107;

// A copy damaged on its way (a flipped bit on a share, a download resumed
// wrongly) must install nothing: the product's unpacker may not check the
// entries' own CRCs. False when the recorded checksum is missing, malformed
// or not the payload's.
bool PayloadIntact(HINSTANCE module, const void *bytes, DWORD size)
{
    DWORD recordedSize = 0;
    const DWORD *recorded = reinterpret_cast<const DWORD *>(
        OwnResource(module, kChecksumResource, MAKEINTRESOURCEA(10), &recordedSize));  // RT_RCDATA
    if (recorded == nullptr || recordedSize != sizeof(DWORD)) {
        LogEvent("payload checksum missing");
        return false;
    }
    DWORD computed = Crc32(bytes, size);
    LogEvent("payload CRC-32 %lu, expected %lu", computed, *recorded);
    return computed == *recorded;
}

// The resource's bytes, written to archivePath at exactly their length. The
// owners are declared so that they go in the order view, mapping, file, on
// every path; the resource itself needs no releasing (support/resources.h).
bool WriteArchive(unsigned short resourceId, const char *resourceType, const char *archivePath)
{
    HINSTANCE module = Handles().Instance;
    DWORD size = 0;
    // A resource of our own that cannot be loaded or locked is not expected;
    // it fails like a missing or empty one, before any file is made.
    const BYTE *bytes = OwnResource(module, resourceId, resourceType, &size);
    if (bytes == nullptr) return false;
    if (!PayloadIntact(module, bytes, size)) return false;

    OwnedHandle file(
        CreateFileA(archivePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) {
        LogFailure("archive %s not created", archivePath);
        return false;
    }

    // CREATE_ALWAYS empties an older archive of the same name; the mapping's
    // size then gives the file exactly the resource's length.
    OwnedHandle mapping(CreateFileMappingA(file.Get(), nullptr, PAGE_READWRITE, 0, size, nullptr));
    if (!mapping) {
        LogFailure("archive %s not mapped", archivePath);
        return false;
    }

    OwnedView view(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!view) return false;

    memcpy(view.Get(), bytes, size);
    LogEvent("wrote %s (%lu bytes)", archivePath, size);
    return true;
}

// Cuts path before its last backslash, keeping the backslash of a drive
// root: "C:" alone names the drive's current directory, not its root. False
// when the path has no backslash.
bool CutBeforeLastBackslash(char *path)
{
    int last = LastBackslash(path);
    if (last < 0) return false;
    path[(last > 0 && path[last - 1] == ':') ? last + 1 : last] = '\0';
    return true;
}

// Moves the current directory away from the work directory, to ProductDir
// without its backslash: an existing directory that the restarted host can
// start in. Failing that, the work directory's parent still lets the run
// remove the work directory at its end.
void LeaveWorkDirectory(const char *workDirectory)
{
    char target[kPathCapacity];
    if (CopyPath(target, Install().ProductDir) && target[0] != '\0') {
        size_t length = TextLength(target);
        if (length > 1 && target[length - 1] == '\\') CutBeforeLastBackslash(target);
        if (SetCurrentDirectoryA(target)) return;
    }
    if (CopyPath(target, workDirectory) && CutBeforeLastBackslash(target))
        SetCurrentDirectoryA(target);
}

// Loads ProductDir + "unzip.dll" and unpacks the archive into the current
// directory. True only when UnZip returned 0. A product directory too long
// to hold the library's name fails like a missing library.
bool UnpackArchive(const char *archivePath)
{
    char libraryPath[kPathCapacity];
    if (!JoinPath(libraryPath, Install().ProductDir, "unzip.dll"))
        return false;

    OwnedLibrary library(LoadProductLibrary(libraryPath));
    if (!library) {
        LogFailure("%s not loaded", libraryPath);
        return false;
    }
    auto unzip = ResolveEntry<UnZipFn>(library.Get(), "UnZip");
    if (unzip == nullptr) {
        LogEvent("%s has no UnZip entry point", libraryPath);
        return false;
    }
    int unzipped = unzip(archivePath);
    LogEvent("UnZip of %s returned %d", archivePath, unzipped);
    return unzipped == 0;
}

}  // namespace

bool ExpandResource(unsigned short resourceId, const char *resourceType, char *archivePath)
{
    // The archive's directory: the path cut before its last backslash.
    char directory[kPathCapacity];
    if (!CopyPath(directory, archivePath)) return false;
    if (!CutBeforeLastBackslash(directory)) return false;

    if (!WriteArchive(resourceId, resourceType, archivePath)) return false;
    if (ProbePath(archivePath) <= 0) return false;

    // UnZip unpacks into the current directory. Should that directory not
    // become current, the library is not run at all: it would otherwise
    // spill the payload into whatever directory the process stood in.
    bool result = false;
    if (SetCurrentDirectoryA(directory))
        result = UnpackArchive(archivePath);
    else
        LogFailure("cannot enter %s", directory);
    LeaveWorkDirectory(directory);
    return result;
}
