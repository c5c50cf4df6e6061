// Where uninstall entries are filed: Program Files' "InstallShield
// Installation Information" folder, one GUID-named subfolder an entry, each
// with a setup.ini. Shared by the stage that files the module and by the
// journal, which may remove a folder a killed run was making.
#pragma once

inline constexpr char kEntrySection[] = "Startup";
// Every module of the product files its entry under a name that begins so
// ("Quorin German Dictionary"); the module builder holds descriptions to it.
inline constexpr char kEntryNamePrefix[] = "Quorin ";

// The folder the entries are filed in, ending with a backslash, into folder
// (260). False without one: no ProgramFilesDir, or it names no directory.
bool EntriesFolder(char *folder);
