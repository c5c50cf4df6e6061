// The module information file, quorin.inf: the module's section describes
// its caption, language, letter and files. The program writes only "Install".
#pragma once

#include <stddef.h>

enum class InstallKind { Install, Removal };

// Reads key from the module's section of ModuleInfoPath with the given
// default and limit (capacity of buffer, terminator included).
void ReadModuleKey(const char *key, const char *fallback, char *buffer, size_t capacity);

// True when path names a dictionary file a module installs, or its staging
// copy (IsModuleFileName), directly in the dictionary directory,
// or in the product directory or its diction folder, reached through no
// link below the directory it lies in. A path taken from a file a standard
// user may write is followed only then: it can lead the elevated run to no
// program, library or file of another folder. The two directories
// themselves may be links: the registry names them, not such a file.
bool IsModuleFile(const char *path);

// The path of copy 0 (the temporary one) or 1 (the product's) of the file
// into path (260), when it is a non-empty file the flag is written to.
bool FlaggedModuleInfoCopy(int copy, char *path);

// Writes "Install" into both copies of the file that exist as non-empty
// files: "1" after an install, "0" after a removal. A copy that refuses the
// write marks the run failed.
void MarkInstallState(InstallKind kind);
