#include "support/libraries.h"

#include "support/text.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI *)(DWORD);

// Whether the LOAD_LIBRARY_SEARCH flags may be used: systems without
// SetDefaultDllDirectories reject them.
bool gSearchFlags = false;

}  // namespace

void RestrictLibrarySearch()
{
    SetDllDirectoryA("");
    // Windows 8 and later (7 with an update): resolved at run time, so that
    // the program still starts where it is missing.
    auto restrict =
        ResolveEntry<SetDefaultDllDirectoriesFn>(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    gSearchFlags = restrict != nullptr && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const char *name)
{
    char path[kPathCapacity];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path || !AppendBackslash(path, sizeof path) ||
        !AppendPath(path, name))
        return nullptr;
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadProductLibrary(const char *path)
{
    return LoadLibraryExA(path, nullptr,
                          gSearchFlags ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                       : LOAD_WITH_ALTERED_SEARCH_PATH);
}
