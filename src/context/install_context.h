// The run's context: where the product lives, what the module is called,
// where the payload is unpacked, and the flags of the run. One process-wide
// record, filled once by LoadInstallContext before any stage reads it.
#pragma once

#include <windows.h>

#include "support/handles.h"
#include "support/text.h"

// One copy for the whole program (inline), not one per file that names it.
inline constexpr char kOptionsKey[] = "Software\\Brenmor Software\\Quorin\\Options";
// The Options values the language's registration writes: the letter list,
// the direction list and the language list, "Language" and a number from 1.
inline constexpr char kLetterListValue[] = "TranLangs";
inline constexpr char kDirectionsValue[] = "Directions";
inline constexpr char kLanguageValuePrefix[] = "Language";
// The section of quorin.cfg that holds the same lists: all a run changes there.
inline constexpr char kLanguagesSection[] = "Languages";

struct InstallContext {
    char ProductDir[kPathCapacity];      // ends with a backslash, or empty
    char DictionaryDir[kPathCapacity];   // ends with a backslash, or empty
    char WorkDir[kPathCapacity];         // Windows directory + "\temp\quorin\"
    char ModuleInfoPath[kPathCapacity];  // quorin.inf in use
    char ConfigPath[kPathCapacity];      // ProductDir + "quorin.cfg"
    char Title[kTitleCapacity];          // caption of the error boxes
    char ModuleName[kNameCapacity];      // "German Dictionary": the module's section
    char ModuleAppName[kNameCapacity];   // "Quorin German Dictionary": the uninstall entry's name
    bool Silent;
    bool FirstShow;
    bool WideText;
};

// Handles held for the whole run. The last three exist only in interactive
// runs; the entry point releases them in the order library, font, icon.
struct RunHandles {
    HINSTANCE Instance;
    HFONT DialogFont;
    HICON ProductIcon;
    HMODULE MessageLibrary;
};

InstallContext &Install();
RunHandles &Handles();

// Empties every field and sets the flags to their start values.
void ResetInstallContext();

// Fills the context from the Options key, the version resource and the file
// system, and makes the work directory the run's own: whatever stood under
// its name is removed or moved aside, a new one is made that only
// administrators and the system may enter, and it is held open (so that
// nobody can rename or delete it) until ReleaseWorkDir. True when
// ProductDir, DictionaryDir and WorkDir name existing directories.
bool LoadInstallContext();

// Lets go of the work directory, so that the run can remove it.
void ReleaseWorkDir();

// The part of LoadInstallContext that only reads: the product's paths, the
// module's names and the quorin.inf in use; nothing is made or changed.
// False when the module cannot be identified (see ReadModuleVersionStrings).
bool IdentifyModule();

// Fills ModuleName and ModuleAppName from the program's own version
// resource. False when the program's own path does not fit a path buffer,
// so the module cannot be identified; the names then stay empty.
bool ReadModuleVersionStrings();

// The program's own path into buffer (260); false, and an empty buffer, when
// it does not fit.
bool ReadOwnPath(char *buffer);

// Finds the product directory before the context exists. buffer (260) gets
// the directory with a trailing backslash, or stays empty; true when it
// names an existing directory.
bool LocateProductDir(char *buffer);

// The Windows directory asked for with its 128-character limit; false (and
// an empty buffer) when it does not fit.
bool WindowsDirectory(char *buffer);

// Opens the Options key under HKEY_LOCAL_MACHINE for all access; false when
// it cannot be opened (missing, or no right to write there).
bool OpenOptionsKey(OwnedKey &key);

// Path of the temporary copy of the module information file: the Windows
// directory followed by "\temp\quorin.inf". False when it cannot be formed.
bool TemporaryModuleInfoPath(char *buffer);
