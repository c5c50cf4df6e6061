// Stand-in for the product's message library: puts localised texts into
// windows by message id. Its language, its Unicode mode and the ids it has no
// text for come from q3msg.ini beside the DLL, so that tests and the demo can
// show every case the setup dialog meets:
//
//   [Messages]
//   Language=German
//   Unicode=1
//   Missing=1289 1297
//
// Language is German (the default) or Russian; Unicode=1 (the default) puts
// texts in through the W calls and makes GetLangParamN report it, 0 puts
// them in as ANSI text in the system code page; Missing lists the ids given
// no text, separated by spaces or commas.
#include <windows.h>

#include <cwchar>

namespace {

HMODULE gModule = nullptr;

struct Message {
    int id;
    const wchar_t *german;
    const wchar_t *russian;
};

const Message kMessages[] = {
    {1289,
     L"Klicken Sie auf \u201EStarten\u201C, um das deutsche W\u00F6rterbuch f\u00FCr Quorin zu installieren.",
     L"\u041D\u0430\u0436\u043C\u0438\u0442\u0435 \u00AB\u041D\u0430\u0447\u0430\u0442\u044C\u00BB, "
     L"\u0447\u0442\u043E\u0431\u044B \u0443\u0441\u0442\u0430\u043D\u043E\u0432\u0438\u0442\u044C "
     L"\u043D\u0435\u043C\u0435\u0446\u043A\u0438\u0439 \u0441\u043B\u043E\u0432\u0430\u0440\u044C Quorin."},
    {364, L"Starten", L"\u041D\u0430\u0447\u0430\u0442\u044C"},
    {291, L"Abbrechen", L"\u041E\u0442\u043C\u0435\u043D\u0430"},
    {1297, L"Das deutsche W\u00F6rterbuch f\u00FCr Quorin wurde erfolgreich installiert.",
     L"\u041D\u0435\u043C\u0435\u0446\u043A\u0438\u0439 \u0441\u043B\u043E\u0432\u0430\u0440\u044C Quorin "
     L"\u0443\u0441\u043F\u0435\u0448\u043D\u043E "
     L"\u0443\u0441\u0442\u0430\u043D\u043E\u0432\u043B\u0435\u043D."},
};

// q3msg.ini beside this DLL, wherever the DLL was loaded from.
void SettingsPath(wchar_t *path, DWORD capacity)
{
    path[0] = L'\0';
    DWORD length = GetModuleFileNameW(gModule, path, capacity);
    if (length == 0 || length >= capacity) {
        path[0] = L'\0';
        return;
    }
    wchar_t *slash = std::wcsrchr(path, L'\\');
    if (slash == nullptr || (slash - path) + 10 >= static_cast<ptrdiff_t>(capacity)) {
        path[0] = L'\0';
        return;
    }
    std::wcscpy(slash + 1, L"q3msg.ini");
}

struct Settings {
    bool russian = false;
    bool unicode = true;
    wchar_t missing[256] = L"";
};

Settings ReadSettings()
{
    Settings settings;
    wchar_t path[MAX_PATH];
    SettingsPath(path, MAX_PATH);
    if (path[0] == L'\0') return settings;
    wchar_t language[32];
    GetPrivateProfileStringW(L"Messages", L"Language", L"German", language, 32, path);
    settings.russian = _wcsicmp(language, L"Russian") == 0;
    settings.unicode = GetPrivateProfileIntW(L"Messages", L"Unicode", 1, path) != 0;
    GetPrivateProfileStringW(L"Messages", L"Missing", L"", settings.missing, 256, path);
    return settings;
}

bool ListedAsMissing(const wchar_t *list, int id)
{
    const wchar_t *p = list;
    while (*p != L'\0') {
        while (*p == L' ' || *p == L',')
            ++p;
        if (*p == L'\0') break;
        wchar_t *end = nullptr;
        long value = std::wcstol(p, &end, 10);
        if (end == p) return false;  // not a number: stop reading the list
        if (value == id) return true;
        p = end;
    }
    return false;
}

// The text for id in the configured language, or nullptr when there is none.
const wchar_t *Lookup(const Settings &settings, int id)
{
    if (ListedAsMissing(settings.missing, id)) return nullptr;
    for (const Message &m : kMessages)
        if (m.id == id) return settings.russian ? m.russian : m.german;
    return nullptr;
}

// Puts text (or no text) into a window: the W call in Unicode mode, else the
// text converted to the system's ANSI code page.
BOOL PutText(HWND window, const Settings &settings, const wchar_t *text)
{
    if (text == nullptr) text = L"";
    if (settings.unicode) return SetWindowTextW(window, text);
    char ansi[1024];
    int written = WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr, nullptr);
    if (written == 0) ansi[0] = '\0';
    return SetWindowTextA(window, ansi);
}

}  // namespace

extern "C" {

// Shows a message box whose text is message id; the box's result.
int WINAPI ShowMessageBoxN(HWND owner, int message, UINT style, int)
{
    Settings settings = ReadSettings();
    const wchar_t *text = Lookup(settings, message);
    return MessageBoxW(owner, text != nullptr ? text : L"", L"Quorin", style);
}

// Copies message id's text into buffer (capacity in characters); its length,
// 0 when there is none or it does not fit.
int WINAPI FormatMessageN(int message, wchar_t *buffer, int capacity, int)
{
    Settings settings = ReadSettings();
    const wchar_t *text = Lookup(settings, message);
    if (buffer == nullptr || capacity <= 0) return 0;
    buffer[0] = L'\0';
    if (text == nullptr) return 0;
    int length = static_cast<int>(std::wcslen(text));
    if (length >= capacity) return 0;
    std::wcscpy(buffer, text);
    return length;
}

// Puts message id's text into the window; the window gets no text when the
// library has none for that id.
int WINAPI SetWindowTextN(HWND window, int message, int)
{
    Settings settings = ReadSettings();
    return PutText(window, settings, Lookup(settings, message));
}

int WINAPI SetDlgItemTextN(HWND dialog, int control, int message, int reserved)
{
    return SetWindowTextN(GetDlgItem(dialog, control), message, reserved);
}

// Nonzero when the library's texts need Unicode windows.
int WINAPI GetLangParamN(int, int, int) { return ReadSettings().unicode ? 1 : 0; }

int WINAPI MessageBoxN(HWND owner, int message, int caption, UINT style)
{
    Settings settings = ReadSettings();
    const wchar_t *text = Lookup(settings, message);
    const wchar_t *title = Lookup(settings, caption);
    return MessageBoxW(owner, text != nullptr ? text : L"", title != nullptr ? title : L"Quorin", style);
}

// Accepted and ignored: this stand-in has no parameters to set.
int WINAPI SetParamN(int, int) { return 0; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *)
{
    if (reason == DLL_PROCESS_ATTACH) {
        gModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

}  // extern "C"
