#include "sandbox.h"

#include <algorithm>
#include <vector>

namespace sandbox {

const char kProductDir[] = "C:\\Program Files\\Quorin\\";
const char kDictionaryDir[] = "C:\\Program Files\\Quorin\\diction\\";
const char kOptionsKey[] = "Software\\Brenmor Software\\Quorin\\Options";
const char kModuleSection[] = "German Dictionary";
const char kOtherSection[] = "French Dictionary";
const char kAppName[] = "Quorin German Dictionary";
const char kFrenchAppName[] = "Quorin French Dictionary";
// The other module's uninstall entry, as the sandbox lays it out.
const char kOtherEntry[] = "{0B1C2D3E-4F50-6172-8394-A5B6C7D8E9F0}";

namespace {

const char kVendorKey[] = "Software\\Brenmor Software";
const char kSessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

std::string WindowsDir()
{
    char buffer[MAX_PATH];
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    return std::string(buffer, length);
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::string TypeName(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "type " + std::to_string(type);
    }
}

std::vector<std::string> SplitZeros(const std::vector<char> &buffer, DWORD length)
{
    std::vector<std::string> items;
    std::string current;
    for (DWORD i = 0; i < length; ++i) {
        if (buffer[i] == '\0') {
            if (current.empty()) break;
            items.push_back(current);
            current.clear();
        } else {
            current += buffer[i];
        }
    }
    return items;
}

void ListIni(const std::string &path, const std::string &label, std::vector<std::string> &lines)
{
    if (!FileExists(path)) return;
    std::vector<char> names(65536);
    DWORD length = GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), path.c_str());
    for (const std::string &section : SplitZeros(names, length)) {
        std::vector<char> keys(65536);
        DWORD keysLength = GetPrivateProfileSectionA(section.c_str(), keys.data(), static_cast<DWORD>(keys.size()),
                                                     path.c_str());
        for (const std::string &entry : SplitZeros(keys, keysLength))
            lines.push_back("ini " + label + " [" + section + "] " + entry);
    }
}

void ListRegistry(const char *key, std::vector<std::string> &lines)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[4096];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(handle, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        std::string bytes(reinterpret_cast<char *>(data), dataLength);
        std::string shown;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::string text = bytes;
            if (!text.empty() && text.back() == '\0') text.pop_back();
            shown = "\"" + text + "\"";
        } else {
            shown = Hex(bytes);
        }
        lines.push_back(std::string("reg ") + name + " " + TypeName(type) + " " + shown);
    }
    RegCloseKey(handle);
}

void CopyStandIn(const char *name)
{
    std::string source = BinDir() + name;
    if (FileExists(source)) CopyFileA(source.c_str(), (std::string(kProductDir) + name).c_str(), FALSE);
}

}  // namespace

std::string ConfigPath() { return std::string(kProductDir) + "quorin.cfg"; }
std::string ModuleInfoPath() { return std::string(kProductDir) + "quorin.inf"; }
std::string TempModuleInfoPath() { return WindowsDir() + "\\temp\\quorin.inf"; }
std::string WorkDir() { return WindowsDir() + "\\temp\\quorin\\"; }

std::string ProgramFilesDir()
{
    char buffer[MAX_PATH] = "";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        DWORD size = sizeof buffer - 1;
        RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size);
        RegCloseKey(key);
    }
    char expanded[MAX_PATH];
    ExpandEnvironmentStringsA(buffer, expanded, MAX_PATH);
    std::string dir = expanded;
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir;
}

std::string InstallShieldDir() { return ProgramFilesDir() + "\\InstallShield Installation Information\\"; }

std::string BinDir()
{
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

bool WriteTextFile(const std::string &path, const std::string &content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

std::string ReadFileBytes(const std::string &path)
{
    // Every sharing allowed, so that a log another process is writing can be
    // read while it runs.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) content.append(chunk, got);
    CloseHandle(file);
    return content;
}

bool FileExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ListTree(const std::string &dir, const std::string &label, std::vector<std::string> &out, bool withSizes)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(label + name + "\\");
            ListTree(dir + name + "\\", label + name + "\\", out, withSizes);
        } else {
            out.push_back(label + name +
                          (withSizes ? " (" + std::to_string(found.nFileSizeLow) + " bytes)" : std::string()));
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

bool DirectoryExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string &path)
{
    std::string dir = path;
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(dir.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name != "." && name != "..") RemoveTree(dir + "\\" + name);
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
    }
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(dir.c_str());
}

std::string ReadIni(const std::string &path, const char *section, const char *key)
{
    char buffer[4096];
    GetPrivateProfileStringA(section, key, "<missing>", buffer, sizeof buffer, path.c_str());
    return buffer;
}

void WriteIni(const std::string &path, const char *section, const char *key, const char *value)
{
    WritePrivateProfileStringA(section, key, value, path.c_str());
}

bool ReadRegistry(const char *key, const char *name, DWORD *type, std::string *data)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    BYTE buffer[4096];
    DWORD size = sizeof buffer;
    DWORD valueType = 0;
    LONG status = RegQueryValueExA(handle, name, nullptr, &valueType, buffer, &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return false;
    if (type) *type = valueType;
    if (data) data->assign(reinterpret_cast<char *>(buffer), size);
    return true;
}

void WriteRegistryBinary(const char *key, const char *name, const std::string &bytes, DWORD type)
{
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
}

void WriteRegistryString(const char *key, const char *name, const std::string &text)
{
    WriteRegistryBinary(key, name, text + std::string(1, '\0'), REG_SZ);
}

void DeleteRegistryValue(const char *key, const char *name)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
    RegDeleteValueA(handle, name);
    RegCloseKey(handle);
}

void DeleteRegistryKey(const char *key) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key); RegDeleteKeyA(HKEY_LOCAL_MACHINE, key); }

// Work folders a run found in its way and moved aside ("quorin.NAME"), but
// never a link: removing through one would reach its target.
void RemoveMovedWorkDirs()
{
    std::string temp = WindowsDir() + "\\temp\\";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((temp + "quorin.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            RemoveTree(temp + found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

void Clean()
{
    RemoveTree(WorkDir());
    RemoveMovedWorkDirs();
    RemoveTree(TempModuleInfoPath());
    RemoveTree(kProductDir);
    RemoveTree(InstallShieldDir());
    DeleteRegistryKey(kVendorKey);
    DeleteRegistryValue(kSessionManagerKey, kPendingValue);
}

void Provision()
{
    Clean();
    CreateDirectoryA(kProductDir, nullptr);
    CreateDirectoryA(kDictionaryDir, nullptr);

    std::string productDir = kProductDir;
    productDir.pop_back();
    std::string dictionaryDir = kDictionaryDir;
    dictionaryDir.pop_back();
    WriteRegistryString(kOptionsKey, "DefaultPath", productDir);
    WriteRegistryString(kOptionsKey, "DicPath", dictionaryDir);
    WriteRegistryString(kOptionsKey, "TranLangs", "ER");
    WriteRegistryBinary(kOptionsKey, "Language1", std::string("English\0\0", 9));
    WriteRegistryBinary(kOptionsKey, "Language2", std::string("Russian\0\0", 9));
    WriteRegistryString(kOptionsKey, "Directions", "ER:RE:");

    WriteTextFile(ConfigPath(),
                  "[Options]\r\nFontSize=10\r\n"
                  "[Languages]\r\nTranLangs=ER\r\nLanguage1=English\r\nLanguage2=Russian\r\n");
    WriteTextFile(ModuleInfoPath(),
                  "[French Dictionary]\r\nTitleE=Quorin French Dictionary\r\nLanguage=French\r\nLetter=F\r\n"
                  "mod0=diction\\bf.qd\r\nInstall=1\r\n"
                  "[German Dictionary]\r\nTitleE=Quorin German Dictionary\r\nLanguage=German\r\nLetter=G\r\n"
                  "mod0=diction\\bg.qd\r\nmod1=diction\\gwg.qd\r\nmod2=diction\\mg.qd\r\n"
                  "mod3=diction\\vg.qd\r\nmod4=diction\\tg.qd\r\nInstall=0\r\n");
    WriteTextFile(std::string(kDictionaryDir) + "bf.qd", "French dictionary data\r\n");

    std::string installShield = InstallShieldDir();
    CreateDirectoryA(installShield.c_str(), nullptr);
    std::string other = installShield + kOtherEntry + "\\";
    CreateDirectoryA(other.c_str(), nullptr);
    WriteTextFile(other + "setup.ini", "[Startup]\r\nAppName=Quorin French Dictionary\r\nExeName=setup.exe\r\n");

    for (const char *standIn : {"unzip.dll", "q3msg.dll", "q3msg.ini", "quorin.exe"}) CopyStandIn(standIn);
}

void WriteModuleSection(const char *section, const char *title, const char *language, const char *letter,
                        const std::vector<std::string> &files)
{
    // A section's keys end with an empty string, the whole with a second one.
    std::string keys = std::string("TitleE=") + title + '\0' + "Language=" + language + '\0' + "Letter=" + letter + '\0';
    for (size_t i = 0; i < files.size(); ++i)
        keys += "mod" + std::to_string(i) + "=diction\\" + files[i] + '\0';
    keys += std::string("Install=0") + '\0' + '\0';
    WritePrivateProfileSectionA(section, keys.c_str(), ModuleInfoPath().c_str());
}

void ProvisionModule(const char *section, const char *title, const char *language, const char *letter,
                     const std::vector<std::string> &files)
{
    Provision();
    WriteModuleSection(section, title, language, letter, files);
    for (const std::string &file : files) DeleteFileA((std::string(kDictionaryDir) + file).c_str());
}

void ProvisionFrenchModule()
{
    WriteModuleSection(kOtherSection, kFrenchAppName, "French", "F", {"bf.qd", "fwf.qd", "mf.qd", "vf.qd"});
    DeleteFileA((std::string(kDictionaryDir) + "bf.qd").c_str());
    RemoveTree(InstallShieldDir() + kOtherEntry);
}

std::vector<std::string> PendingRenames()
{
    std::vector<std::string> operations;
    std::string list;
    if (!ReadRegistry(kSessionManagerKey, kPendingValue, nullptr, &list)) return operations;
    // Pairs of names, each terminated: source, then target ("!" first for a
    // replacement) or nothing for a deletion.
    std::vector<std::string> names;
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find('\0', at);
        if (end == std::string::npos) end = list.size();
        std::string name = list.substr(at, end - at);
        if (name.rfind("\\??\\", 0) == 0) name.erase(0, 4);
        if (name.rfind("!\\??\\", 0) == 0) name.erase(1, 4);
        names.push_back(name);
        at = end + 1;
    }
    for (size_t i = 0; i + 1 < names.size() && !names[i].empty(); i += 2)
        operations.push_back(names[i + 1].empty() ? "delete " + names[i]
                                                  : "rename " + names[i] + " to " + names[i + 1]);
    return operations;
}

std::string Snapshot()
{
    std::vector<std::string> lines;
    std::vector<std::string> files;
    ListTree(kProductDir, "product\\", files, true);
    ListTree(WorkDir(), "work\\", files, true);
    ListTree(InstallShieldDir(), "installshield\\", files, true);
    for (const std::string &file : files) lines.push_back("file " + file);
    if (FileExists(TempModuleInfoPath())) lines.push_back("file temp\\quorin.inf");
    ListIni(ConfigPath(), "quorin.cfg", lines);
    ListIni(ModuleInfoPath(), "quorin.inf", lines);
    ListIni(TempModuleInfoPath(), "temp\\quorin.inf", lines);
    ListRegistry(kOptionsKey, lines);
    std::vector<std::string> pending = PendingRenames();
    for (size_t i = 0; i < pending.size(); ++i)
        lines.push_back("pending " + std::string(1, static_cast<char>('a' + i % 26)) + " " + pending[i]);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string &line : lines) text += line + "\n";
    return text;
}

}  // namespace sandbox
