// Where the program's libraries come from. The setup runs with
// administrator rights from a folder anyone may write to (a download
// folder), so a library is never looked for beside the program or in the
// current directory: system libraries come from the system folder, the
// product's from the product folder by full path.
#pragma once

#include <windows.h>

// Takes the current directory out of the library search and, where the
// system offers it, restricts the default search to the system folder.
// Called first thing, before any library is loaded at run time.
void RestrictLibrarySearch();

// name ("version.dll") from the system folder, by its full path; null when
// it cannot be loaded. The caller frees it.
HMODULE LoadSystemLibrary(const char *name);

// A product library by its full path; what it needs in turn comes from its
// own folder and the system folder. Null when it cannot be loaded.
HMODULE LoadProductLibrary(const char *path);

// A library's entry point under its own type. GetProcAddress hands out one
// generic type; the detour through void (*)() keeps the compiler from
// warning about the cast between function types. Null when it is missing.
template <typename Fn> Fn ResolveEntry(HMODULE library, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}
