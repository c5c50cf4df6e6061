// Binding the product's message library for an interactive run: the dialog
// font, the product's icon, and q3msg.dll with its seven entry points.
#include "ui/message_library.h"

#include <shellapi.h>

#include "context/install_context.h"
#include "support/libraries.h"
#include "support/run_log.h"
#include "support/text.h"
#include "ui/host_restart.h"

namespace {

MessageLibraryEntries gEntries{};

// The names of the seven entry points, one after the other in the order of
// MessageLibraryEntry: one table to walk instead of seven calls.
constexpr char kEntryNames[] =
    "ShowMessageBoxN\0FormatMessageN\0SetDlgItemTextN\0SetWindowTextN\0GetLangParamN\0MessageBoxN\0SetParamN";

constexpr int CountNames(const char *names, size_t size)
{
    int count = 0;
    for (size_t i = 0; i < size; ++i) count += names[i] == '\0';
    return count;
}
static_assert(CountNames(kEntryNames, sizeof kEntryNames) == kMessageLibraryEntries, "one name for each entry");

// A drive-letter or UNC path. A library loader searches its path for
// anything else, and the product's library must come from the product only.
bool IsFullPath(const char *path)
{
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && path[2] == '\\';
    bool unc = path[0] == '\\' && path[1] == '\\';
    return drive || unc;
}

// The host application's small icon, or its associated icon when it has
// none; null when neither exists.
HICON TakeProductIcon(const char *hostPath)
{
    HICON small = nullptr;
    // The count comes back as 0xFFFFFFFF for a missing file, and the output
    // handle holds garbage whenever nothing was extracted.
    UINT extracted = ExtractIconExA(hostPath, 0, nullptr, &small, 1);
    if (static_cast<int>(extracted) > 0) return small;

    // ExtractAssociatedIconA writes the icon's source path back into the
    // buffer it is given, so it gets a copy of its own.
    char path[kPathCapacity];
    if (!CopyPath(path, hostPath)) return nullptr;
    WORD index = 0;
    return ExtractAssociatedIconA(Handles().Instance, path, &index);
}

HFONT MakeDialogFont()
{
    LOGFONTA font;
    ZeroMemory(&font, sizeof font);
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfCharSet = RUSSIAN_CHARSET;  // the product's messages may be Cyrillic
    CopyText(font.lfFaceName, sizeof font.lfFaceName, "Arial");
    return CreateFontIndirectA(&font);
}

}  // namespace

MessageLibraryEntries &MessageLibrary() { return gEntries; }

bool BindMessageLibrary()
{
    RunHandles &handles = Handles();
    handles.DialogFont = MakeDialogFont();

    // An unknown product directory leaves the buffer empty: then there is no
    // host to take an icon from and no library to load by its full path.
    char path[kPathCapacity];
    LocateProductDir(path);
    if (!IsFullPath(path) || !AppendPath(path, kHostProgram)) {
        LogEvent("message library: no product directory found");
        return false;
    }

    handles.ProductIcon = TakeProductIcon(path);

    CutAfterLastBackslash(path);
    if (!AppendPath(path, "q3msg.dll")) return false;
    handles.MessageLibrary = LoadProductLibrary(path);
    if (handles.MessageLibrary == nullptr) {
        LogFailure("message library %s not loaded", path);
        return false;
    }
    LogEvent("message library %s loaded", path);

    // One name after the other, in the order of MessageLibraryEntry.
    const char *name = kEntryNames;
    for (FARPROC &entry : gEntries.Address) {
        entry = GetProcAddress(handles.MessageLibrary, name);
        name += TextLength(name) + 1;
    }

    // A library without it cannot ask for Unicode windows.
    GetLangParamNFn getLangParam = gEntries.GetLangParamN();
    if (getLangParam != nullptr) Install().WideText = getLangParam(0, 0, 0) != 0;
    return true;
}

void ReleaseRunHandles()
{
    RunHandles &handles = Handles();
    // The entry points die with the library.
    gEntries = MessageLibraryEntries{};
    if (handles.MessageLibrary != nullptr) FreeLibrary(handles.MessageLibrary);
    if (handles.DialogFont != nullptr) DeleteObject(handles.DialogFont);
    if (handles.ProductIcon != nullptr) DestroyIcon(handles.ProductIcon);
    handles.MessageLibrary = nullptr;
    handles.DialogFont = nullptr;
    handles.ProductIcon = nullptr;
}
