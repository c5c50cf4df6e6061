#include "context/install_context.h"

#include <windows.h>

#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "support/error_box.h"
#include "support/handles.h"
#include "support/libraries.h"
#include "support/registry_text.h"
#include "context/work_dir.h"
#include "support/run_log.h"

namespace {

InstallContext gInstall;
RunHandles gHandles;

// The three entry points of version.dll that read the program's identity.
using GetFileVersionInfoSizeAFn = DWORD(WINAPI *)(const char *path, DWORD *handle);
using GetFileVersionInfoAFn = BOOL(WINAPI *)(const char *path, DWORD handle, DWORD size, void *data);
using VerQueryValueAFn = BOOL(WINAPI *)(const void *block, const char *subBlock, void **value, UINT *length);

// The Windows directory is asked for with a limit of 128 characters.
constexpr DWORD kShortPathLimit = 128;

// The longest name appended to the product directory ("quorin.cfg",
// "quorin.inf", "quorin.exe"); a directory without room for it is unusable.
constexpr size_t kLongestProductName = 10;

// A directory value from the Options key, with its trailing backslash. A
// value that leaves no room for what the run appends reads as missing.
bool ReadDirectoryValue(HKEY key, const char *name, char *buffer, size_t room)
{
    if (!ReadRegistryText(key, name, buffer, kPathCapacity) || buffer[0] == '\0') return false;
    if (!AppendBackslash(buffer, kPathCapacity) || TextLength(buffer) + room >= kPathCapacity) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

void ReadOptionsPaths(InstallContext &context)
{
    OwnedKey options;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOptionsKey, 0, KEY_QUERY_VALUE, options.Receive());
    if (opened != ERROR_SUCCESS) {
        LogContext("HKLM\\%s not opened: error %ld", kOptionsKey, opened);
        return;
    }

    if (ReadDirectoryValue(options.Get(), "DefaultPath", context.ProductDir, kLongestProductName)) {
        // "RemotePath" is then not read, even when this directory is missing.
    } else if (ReadDirectoryValue(options.Get(), "RemotePath", context.ProductDir, kLongestProductName)) {
        JoinPath(context.DictionaryDir, context.ProductDir, "diction\\");
    } else {
        LogContext("no usable DefaultPath or RemotePath");
    }
    if (context.ProductDir[0] != '\0') {
        JoinPath(context.ConfigPath, context.ProductDir, "quorin.cfg");
    }
    if (context.DictionaryDir[0] == '\0' &&
        !ReadDirectoryValue(options.Get(), "DicPath", context.DictionaryDir, 0))
        LogContext("DicPath missing or unusable");
}

// True for an existing directory; anything else is named in the log, as its
// answer to why no stage ran.
bool CheckDirectory(const char *what, const char *path)
{
    if (ProbePath(path) == kProbeDirectory) return true;
    LogContext("%s \"%s\" is not an existing directory", what, path);
    return false;
}

// Picks the module information file: the temporary copy wins, even empty.
void ChooseModuleInfoPath(InstallContext &context)
{
    char temporary[kPathCapacity];
    if (TemporaryModuleInfoPath(temporary) && ProbePath(temporary) >= 0) {
        CopyPath(context.ModuleInfoPath, temporary);
        return;
    }
    context.ModuleInfoPath[0] = '\0';
    if (context.ProductDir[0] != '\0') {
        JoinPath(context.ModuleInfoPath, context.ProductDir, "quorin.inf");
    }
}

}  // namespace

InstallContext &Install() { return gInstall; }
RunHandles &Handles() { return gHandles; }

void ResetInstallContext()
{
    gInstall = InstallContext{};
    gInstall.Silent = true;
    gInstall.FirstShow = true;
    SetErrorBoxCaption(gInstall.Title);
}

bool WindowsDirectory(char *buffer)
{
    UINT length = GetWindowsDirectoryA(buffer, kShortPathLimit);
    if (length == 0 || length >= kShortPathLimit) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool ReadOwnPath(char *buffer)
{
    // A path that does not fit comes back cut and unterminated.
    DWORD length = GetModuleFileNameA(gHandles.Instance, buffer, kPathCapacity);
    if (length >= kPathCapacity) length = 0;
    buffer[length] = '\0';
    return length != 0;
}

bool TemporaryModuleInfoPath(char *buffer)
{
    return WindowsDirectory(buffer) && AppendPath(buffer, "\\temp\\quorin.inf");
}

bool ReadModuleVersionStrings()
{
    InstallContext &context = gInstall;
    context.ModuleName[0] = '\0';
    context.ModuleAppName[0] = '\0';

    char own[kPathCapacity];
    if (!ReadOwnPath(own)) return false;

    // version.dll is not one of the libraries Windows always takes from its
    // own folder: it is loaded from there by its full path, when needed.
    // A null module would make GetProcAddress look in the program itself.
    OwnedLibrary version(LoadSystemLibrary("version.dll"));
    HMODULE library = version.Get();
    auto infoSize = library ? ResolveEntry<GetFileVersionInfoSizeAFn>(library, "GetFileVersionInfoSizeA") : nullptr;
    auto info = library ? ResolveEntry<GetFileVersionInfoAFn>(library, "GetFileVersionInfoA") : nullptr;
    auto query = library ? ResolveEntry<VerQueryValueAFn>(library, "VerQueryValueA") : nullptr;
    if (infoSize == nullptr || info == nullptr || query == nullptr) {
        LogFailure("context: version.dll not usable");
        return true;
    }

    DWORD ignored = 0;
    DWORD size = infoSize(own, &ignored);
    if (size == 0) return true;
    HLOCAL block = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size + 1024);
    if (block == nullptr) return true;
    void *data = static_cast<void *>(block);
    if (info(own, 0, size, data)) {
        WORD *translation = nullptr;
        UINT translationSize = 0;
        WORD language = 0x0409, codePage = 0x04E4;
        if (query(data, "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation), &translationSize) &&
            translation != nullptr && translationSize >= 2 * sizeof(WORD)) {
            language = translation[0];
            codePage = translation[1];
        }
        // Static and constant, so that the table is not copied out of
        // writable data at every call.
        static const struct Wanted {
            const char *name;
            char *field;
        } wanted[] = {{"FileDescription", gInstall.ModuleName}, {"Comments", gInstall.ModuleAppName}};
        for (const Wanted &w : wanted) {
            char text[96];
            wsprintfA(text, "\\StringFileInfo\\%04X%04X\\%s", language, codePage, w.name);
            char *value = nullptr;
            UINT valueLength = 0;
            bool found = query(data, text, reinterpret_cast<void **>(&value), &valueLength) && value;
            if (!found) {
                wsprintfA(text, "\\StringFileInfo\\040904E4\\%s", w.name);
                found = query(data, text, reinterpret_cast<void **>(&value), &valueLength) && value;
            }
            // A name too long for its field would be a different module.
            if (found && !CopyText(w.field, kNameCapacity, value)) w.field[0] = '\0';
        }
    }
    LocalFree(block);
    return true;
}

bool IdentifyModule()
{
    InstallContext &context = gInstall;
    context.ProductDir[0] = '\0';
    context.DictionaryDir[0] = '\0';
    context.ConfigPath[0] = '\0';

    ReadOptionsPaths(context);
    bool identified = ReadModuleVersionStrings();
    ChooseModuleInfoPath(context);
    return identified;
}

bool LoadInstallContext()
{
    InstallContext &context = gInstall;
    bool identified = IdentifyModule();
    bool workDirUsable = PrepareWorkDir(context);

    LogContext("product %s, dictionary %s, work %s", context.ProductDir, context.DictionaryDir,
             context.WorkDir);
    LogContext("module \"%s\" (\"%s\"), quorin.inf in use: %s", context.ModuleName,
             context.ModuleAppName, context.ModuleInfoPath);
    if (!identified) LogContext("own path over 259 characters");
    return identified && workDirUsable && CheckDirectory("product directory", context.ProductDir) &&
           CheckDirectory("dictionary directory", context.DictionaryDir) &&
           CheckDirectory("work directory", context.WorkDir);
}

bool LocateProductDir(char *buffer)
{
    buffer[0] = '\0';
    OwnedKey options;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOptionsKey, 0, KEY_ALL_ACCESS, options.Receive()) != ERROR_SUCCESS)
        return false;

    char value[kPathCapacity];
    if (ReadDirectoryValue(options.Get(), "DefaultPath", value, kLongestProductName)) {
        CopyPath(buffer, value);
        if (ProbePath(buffer) == kProbeDirectory) return true;
    }
    // A missing "RemotePath" leaves the "DefaultPath" text in place.
    if (ReadDirectoryValue(options.Get(), "RemotePath", value, kLongestProductName))
        CopyPath(buffer, value);
    return ProbePath(buffer) == kProbeDirectory;
}

bool OpenOptionsKey(OwnedKey &key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOptionsKey, 0, KEY_ALL_ACCESS, key.Receive()) == ERROR_SUCCESS;
}
