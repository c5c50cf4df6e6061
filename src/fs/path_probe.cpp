#include "fs/path_probe.h"

#include <windows.h>

#include "support/handles.h"
#include "support/text.h"

int32_t ProbePath(const char *path)
{
    size_t length = TextLength(path);
    if (length == 0 || length >= kPathCapacity) return kProbeMissing;

    // The directory search does not find a path that ends in a backslash, so
    // one trailing backslash is dropped (only one: "x\\" searches "x\").
    char search[kPathCapacity];
    CopyPath(search, path);
    if (search[length - 1] == '\\') search[length - 1] = '\0';

    WIN32_FIND_DATAA found;
    OwnedFind find(FindFirstFileA(search, &found));
    if (!find) return kProbeMissing;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return kProbeDirectory;
    if (found.nFileSizeHigh != 0 || found.nFileSizeLow > 0x7FFFFFFFu) return INT32_MAX;
    return static_cast<int32_t>(found.nFileSizeLow);
}
