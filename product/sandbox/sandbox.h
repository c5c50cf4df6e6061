// A simulated installed product in the Wine prefix, for the tests and the
// demo: the Options key, the product and dictionary directories, quorin.cfg,
// quorin.inf, the InstallShield information folder and the product's
// stand-in programs. Provision starts from a known state; Clean removes
// everything the sandbox or a run of the program may have made.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sandbox {

extern const char kProductDir[];     // "C:\Program Files\Quorin\"
extern const char kDictionaryDir[];  // kProductDir + "diction\"
extern const char kOptionsKey[];     // under HKEY_LOCAL_MACHINE
extern const char kModuleSection[];  // "German Dictionary"
extern const char kOtherSection[];   // another module's section, never touched
extern const char kAppName[];        // "Quorin German Dictionary"

std::string ConfigPath();         // kProductDir + "quorin.cfg"
std::string ModuleInfoPath();     // kProductDir + "quorin.inf"
std::string TempModuleInfoPath(); // Windows directory + "\temp\quorin.inf"
std::string WorkDir();            // Windows directory + "\temp\quorin\"
std::string ProgramFilesDir();    // as the program reads it, no trailing backslash
std::string InstallShieldDir();   // ProgramFilesDir + "\InstallShield Installation Information\"
std::string BinDir();             // folder of the running executable, with backslash

// Removes everything, then lays out the default product:
//  Options key: DefaultPath, DicPath, TranLangs "ER", Language1 "English",
//    Language2 "Russian" (REG_BINARY), Directions "ER:RE:";
//  quorin.cfg [Languages]: TranLangs=ER, Language1=English, Language2=Russian;
//  quorin.inf [German Dictionary]: TitleE, Language=German, Letter=G,
//    mod0..mod4 = diction\bg.qd .. diction\tg.qd, Install=0; and a
//    [French Dictionary] section;
//  the InstallShield folder with one unrelated entry;
//  unzip.dll, q3msg.dll and quorin.exe from BinDir() when they exist there.
void Provision();
void Clean();

// Writes a module's section into the product's quorin.inf, replacing what
// the section held: TitleE, Language, Letter, mod0, mod1, ... as
// "diction\" + each file name, and Install=0.
void WriteModuleSection(const char *section, const char *title, const char *language, const char *letter,
                        const std::vector<std::string> &files);

// Provision, then the module's section as WriteModuleSection writes it, and
// none of the module's files in the dictionary folder: the module not yet
// installed (what a module description's [product] section states).
void ProvisionModule(const char *section, const char *title, const char *language, const char *letter,
                     const std::vector<std::string> &files);

// Lays out the product with the French module of modules/french.ini not yet
// installed, beside the German one: after Provision, the other module's
// section lists the French module's four files with Install=0, and that
// module's installed file and uninstall entry are gone.
void ProvisionFrenchModule();
extern const char kFrenchAppName[];  // "Quorin French Dictionary"

// The state a run can change, as sorted lines a person can read and a test
// can compare: files under the product, the work and InstallShield folders
// (name and size), every key of quorin.cfg and both quorin.inf copies, and
// every value of the Options key (type and data), and the operations
// scheduled for the next restart (PendingRenames).
std::string Snapshot();

// The renames and deletions scheduled for the next restart of Windows, in
// their order: "rename SOURCE to TARGET" ("to !TARGET" when it replaces an
// existing file) and "delete PATH". Snapshot lists them too; Clean forgets
// them, so that no test's restart carries out what another left behind.
std::vector<std::string> PendingRenames();

// Small helpers the tests and the demo share.
bool WriteTextFile(const std::string &path, const std::string &content);
std::string ReadFileBytes(const std::string &path);
bool FileExists(const std::string &path);
bool DirectoryExists(const std::string &path);

// Everything below dir (with its backslash), depth first in the order of the
// directory search: label + "name\" for a folder, label + "name" for a file,
// followed by " (N bytes)" when withSizes.
void ListTree(const std::string &dir, const std::string &label, std::vector<std::string> &out, bool withSizes);
void RemoveTree(const std::string &path);  // files and folders below, then path itself

// The INI value, or "<missing>" when the key does not exist.
std::string ReadIni(const std::string &path, const char *section, const char *key);
void WriteIni(const std::string &path, const char *section, const char *key, const char *value);

// Registry values under HKEY_LOCAL_MACHINE. ReadRegistry gives false when
// the value does not exist.
bool ReadRegistry(const char *key, const char *name, DWORD *type, std::string *data);
void WriteRegistryString(const char *key, const char *name, const std::string &text);  // REG_SZ with terminator
void WriteRegistryBinary(const char *key, const char *name, const std::string &bytes, DWORD type = REG_BINARY);
void DeleteRegistryValue(const char *key, const char *name);
void DeleteRegistryKey(const char *key);  // the key and everything below it

}  // namespace sandbox
