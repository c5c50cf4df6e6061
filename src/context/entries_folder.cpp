#include "context/entries_folder.h"

#include <windows.h>

#include "fs/path_probe.h"
#include "support/handles.h"
#include "support/registry_text.h"
#include "support/text.h"

namespace {

constexpr const char *kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char *kInstallShieldFolder = "InstallShield Installation Information\\";

bool HasPercent(const char *text)
{
    for (; *text != '\0'; ++text)
        if (*text == '%') return true;
    return false;
}

// The Program Files directory into dir (kPathCapacity); false when the value
// is missing or empty or names no existing directory.
bool FindProgramFilesDir(char *dir)
{
    {
        OwnedKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_READ, key.Receive()) !=
            ERROR_SUCCESS)
            return false;
        if (!ReadRegistryText(key.Get(), "ProgramFilesDir", dir, kPathCapacity) || dir[0] == '\0')
            return false;
    }
    if (HasPercent(dir)) {
        // The expansion counts only when it names a directory; otherwise the
        // text is probed as it stands.
        char expanded[kPathCapacity];
        DWORD needed = ExpandEnvironmentStringsA(dir, expanded, kPathCapacity);
        if (needed > 0 && needed <= kPathCapacity && ProbePath(expanded) == kProbeDirectory)
            CopyPath(dir, expanded);
    }
    return ProbePath(dir) == kProbeDirectory;
}

}  // namespace

bool EntriesFolder(char *folder)
{
    return FindProgramFilesDir(folder) && AppendBackslash(folder, kPathCapacity) &&
           AppendPath(folder, kInstallShieldFolder);
}
