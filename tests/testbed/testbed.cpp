#include "testbed.h"

#include <mutex>
#include <set>

#include "sandbox.h"

namespace testbed {

namespace {

struct EnumState {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    auto *state = reinterpret_cast<EnumState *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == state->processId && IsWindowVisible(window)) state->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId)
{
    EnumState state{processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return state.windows;
}

// A message box keeps its text in control 0xFFFF and its icon in 0x0440.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMessageBoxIconId = 0x0440;

// Icon handles differ between processes; the images do not.
std::string IconBits(HICON icon)
{
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return {};
    std::string bits;
    for (HBITMAP bitmap : {info.hbmColor, info.hbmMask}) {
        if (!bitmap) continue;
        BITMAP shape{};
        GetObjectA(bitmap, sizeof shape, &shape);
        std::string part(static_cast<size_t>(shape.bmWidthBytes) * shape.bmHeight, '\0');
        GetBitmapBits(bitmap, static_cast<LONG>(part.size()), &part[0]);
        bits += part;
        DeleteObject(bitmap);
    }
    return bits;
}

}  // namespace

WindowSeen Describe(HWND window)
{
    WindowSeen seen;
    char buffer[1024];
    GetClassNameA(window, buffer, sizeof buffer);
    seen.className = buffer;
    buffer[0] = '\0';
    GetWindowTextA(window, buffer, sizeof buffer);
    seen.caption = buffer;
    buffer[0] = '\0';
    if (GetDlgItem(window, kMessageBoxTextId)) GetDlgItemTextA(window, kMessageBoxTextId, buffer, sizeof buffer);
    seen.text = buffer;
    seen.style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    seen.exStyle = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE));
    HWND icon = GetDlgItem(window, kMessageBoxIconId);
    seen.hasIcon = icon != nullptr && IsWindowVisible(icon);
    if (icon) {
        HICON shown = reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0));
        seen.errorIcon = shown != nullptr && IconBits(shown) == IconBits(LoadIconA(nullptr, IDI_HAND)) &&
                         IconBits(shown) != IconBits(LoadIconA(nullptr, IDI_EXCLAMATION));
    }
    return seen;
}

void CloseWindowPolitely(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

std::string SetupPath() { return sandbox::BinDir() + "setup.exe"; }

bool StartProgram(const std::string &exePath, const std::string &tail, PROCESS_INFORMATION *process)
{
    // Tests that start two runs together call this from two threads. Once in
    // a CI run 64-bit Wine failed one of two simultaneous starts of the same
    // program before it ran a line of it; the starts take their turns (the
    // programs still run together), and a start that fails is tried once more.
    static std::mutex starting;
    std::lock_guard<std::mutex> turn(starting);
    std::string commandLine = "\"" + exePath + "\"" + tail;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) Sleep(200);
        if (CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           process))
            return true;
    }
    return false;
}

void WatchProcess(HANDLE process, DWORD processId, DWORD start, DWORD timeoutMs, const WindowHandler &handler,
                  RunResult &result)
{
    std::set<HWND> met;
    for (;;) {
        if (WaitForSingleObject(process, 25) == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, 5000);
            result.timedOut = true;
            break;
        }
        for (HWND window : VisibleWindowsOf(processId)) {
            if (!met.insert(window).second) continue;
            WindowSeen seen = Describe(window);
            if (handler && handler(window, seen)) {
                result.handled.push_back(seen);
            } else {
                result.unexpected.push_back(seen);
                CloseWindowPolitely(window);
            }
        }
    }
    GetExitCodeProcess(process, &result.exitCode);
}

RunResult RunProgram(const std::string &exePath, const std::string &tail, DWORD timeoutMs, WindowHandler handler)
{
    RunResult result;
    PROCESS_INFORMATION process{};
    if (!StartProgram(exePath, tail, &process)) {
        result.startError = GetLastError();
        return result;
    }
    WatchProcess(process.hProcess, process.dwProcessId, GetTickCount(), timeoutMs, handler, result);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

RunResult RunSetup(const std::string &tail, DWORD timeoutMs, WindowHandler handler)
{
    return RunProgram(SetupPath(), tail, timeoutMs, std::move(handler));
}

namespace {
std::wstring Long(const std::string &path) { return L"\\\\?\\" + std::wstring(path.begin(), path.end()); }
}  // namespace

HMODULE LoadDeepCopy(const std::string &library, const std::string &base)
{
    std::string dir = base;
    CreateDirectoryW(Long(dir).c_str(), nullptr);
    while (dir.size() <= 260) {
        dir += "\\" + std::string(100, 'd');
        CreateDirectoryW(Long(dir).c_str(), nullptr);
    }
    std::string copy = dir + library.substr(library.find_last_of('\\'));
    if (!CopyFileW(Long(library).c_str(), Long(copy).c_str(), FALSE)) return nullptr;
    return LoadLibraryW(Long(copy).c_str());
}

void RemoveDeepTree(const std::string &path)
{
    std::wstring full = Long(path);
    DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((full + L"\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                if (name != L"." && name != L"..")
                    RemoveDeepTree(path + "\\" + std::string(name.begin(), name.end()));
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(full.c_str());
    } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
    }
}

namespace {
int gScreenDpi = 96;
}  // namespace

void SetScreenDpi(DWORD dpi)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    if (dpi)
        RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dpi), sizeof dpi);
    else
        RegDeleteValueA(key, "LogPixels");
    RegCloseKey(key);
    gScreenDpi = dpi ? static_cast<int>(dpi) : 96;
}

int ScreenDpi() { return gScreenDpi; }

bool RestartWindows()
{
    char system[MAX_PATH];
    UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    RunResult restart = RunProgram(std::string(system) + "\\wineboot.exe", " --restart", 60000);
    return !restart.timedOut && restart.unexpected.empty() && restart.exitCode == 0;
}

BoxWatcher::BoxWatcher()
{
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Loop, this, 0, nullptr);
}

BoxWatcher::~BoxWatcher()
{
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

std::vector<WindowSeen> BoxWatcher::Seen()
{
    EnterCriticalSection(&lock_);
    std::vector<WindowSeen> copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI BoxWatcher::Loop(void *self)
{
    auto *watcher = static_cast<BoxWatcher *>(self);
    std::set<HWND> met;
    while (WaitForSingleObject(watcher->stop_, 20) == WAIT_TIMEOUT) {
        for (HWND window : VisibleWindowsOf(GetCurrentProcessId())) {
            if (met.count(window)) continue;
            met.insert(window);
            WindowSeen seen = Describe(window);
            EnterCriticalSection(&watcher->lock_);
            watcher->seen_.push_back(seen);
            LeaveCriticalSection(&watcher->lock_);
            CloseWindowPolitely(window);
        }
    }
    return 0;
}

void WriteOldFile(const std::string &path, const std::string &content)
{
    sandbox::WriteTextFile(path, content);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SYSTEMTIME old{2000, 1, 0, 1, 0, 0, 0, 0};
    FILETIME older;
    SystemTimeToFileTime(&old, &older);
    SetFileTime(file, nullptr, nullptr, &older);
    CloseHandle(file);
}

// The Unix path behind a Windows path, as Wine maps it.
static std::string UnixPath(const std::string &path)
{
    using UnixNameFn = char *(CDECL *)(const WCHAR *);
    auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char *name = unixName(wide);
    if (!name) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a Unix command and waits until the link at path exists (or not).
static bool RunUnix(std::string command, const std::string &path, bool exists)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine starts a Unix program outside the Windows process table and gives
    // back no process handle; the thread handle then holds a stray number
    // that, in a 32-bit process, is the handle of our own cached
    // HKEY_LOCAL_MACHINE. Closing it would make every later registry call of
    // this process fail. Close the pair only when they are real.
    if (process.hProcess) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    auto present = [&] { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    for (int i = 0; i < 100 && present() != exists; ++i) Sleep(20);
    return present() == exists;
}

// The Unix path of a Windows path whose last component may not exist yet.
static std::string UnixPathOfNew(const std::string &path)
{
    size_t cut = path.rfind('\\');
    return UnixPath(path.substr(0, cut)) + "/" + path.substr(cut + 1);
}

// Wine splits a Unix program's command line as Windows does: double quotes.
bool MakeUnixLink(const std::string &target, const std::string &link)
{
    return RunUnix("/bin/ln -s \"" + UnixPath(target) + "\" \"" + UnixPathOfNew(link) + "\"", link, true);
}

// Deleting through Wine could reach the link's target; rm removes the link.
void RemoveUnixLink(const std::string &link) { RunUnix("/bin/rm -f \"" + UnixPathOfNew(link) + "\"", link, false); }

}  // namespace testbed
