#include "locale_run.h"

#include <tlhelp32.h>

#include <set>
#include <vector>

namespace localerun {

namespace {

const char *const kVariables[] = {"LANG", "LC_CTYPE", "LC_MESSAGES", "LC_ALL", "LANGUAGE"};

// The locale variables of this process's Windows environment, which Linux
// programs it starts receive, set for one run and put back after it.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(const Locale &locale)
    {
        for (const char *name : kVariables) {
            char value[256];
            DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
            saved_.push_back(length > 0 && length < sizeof value ? value : "");
        }
        const char *wanted[] = {locale.lang, locale.ctype, locale.messages, nullptr, nullptr};
        for (size_t i = 0; i < saved_.size(); ++i) SetEnvironmentVariableA(kVariables[i], wanted[i]);
    }
    ~LocaleEnvironment()
    {
        for (size_t i = 0; i < saved_.size(); ++i)
            SetEnvironmentVariableA(kVariables[i], saved_[i].empty() ? nullptr : saved_[i].c_str());
    }

private:
    std::vector<std::string> saved_;
};

// Wine's loader: its Linux path, which Wine puts in WINELOADER, and that
// path on drive Z:, the Linux root. The loader finds the rest of Wine from
// its first argument, so that one is the Linux path.
bool FindLoader(std::string *linuxPath, std::string *windowsPath)
{
    char loader[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("WINELOADER", loader, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || loader[0] != '/') return false;
    *linuxPath = loader;
    *windowsPath = std::string("Z:") + loader;
    for (char &c : *windowsPath)
        if (c == '/') c = '\\';
    return true;
}

std::set<DWORD> ProcessesNamed(const std::string &name)
{
    std::set<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, name.c_str()) == 0) found.insert(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

}  // namespace

testbed::RunResult RunInLocale(const Locale &locale, const std::string &exePath, const std::string &tail,
                               DWORD timeoutMs, const testbed::WindowHandler &handler)
{
    testbed::RunResult result;
    std::string name = exePath.substr(exePath.find_last_of('\\') + 1);
    std::set<DWORD> before = ProcessesNamed(name);
    std::string loader, loaderFile;
    if (!FindLoader(&loader, &loaderFile)) {
        result.startError = ERROR_FILE_NOT_FOUND;
        return result;
    }
    std::string commandLine = "\"" + loader + "\" \"" + exePath + "\"" + tail;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};  // a Linux program's start gives no handles
    {
        LocaleEnvironment environment(locale);
        if (!CreateProcessA(loaderFile.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &started)) {
            result.startError = GetLastError();
            return result;
        }
    }

    HANDLE process = nullptr;
    DWORD processId = 0, start = GetTickCount();
    while (process == nullptr && GetTickCount() - start < 30000) {
        for (DWORD id : ProcessesNamed(name)) {
            if (before.count(id)) continue;
            processId = id;
            process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
        }
        if (process == nullptr) Sleep(25);
    }
    if (process == nullptr) {
        result.startError = ERROR_NOT_FOUND;
        return result;
    }

    testbed::WatchProcess(process, processId, start, timeoutMs, handler, result);
    CloseHandle(process);
    return result;
}

std::wstring WideText(HWND window)
{
    wchar_t buffer[512] = L"";
    HWND text = GetDlgItem(window, 0xFFFF);
    GetWindowTextW(text != nullptr ? text : window, buffer, 512);
    return buffer;
}

}  // namespace localerun
