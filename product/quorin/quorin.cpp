// Stand-in for the product's main program, as the setup program meets it: a
// top-level window of class "QuorinClass" that closes itself on command 73.
// It appends what happens to quorin.log beside itself, one line each:
//
//   start pid=<pid> tick=<GetTickCount> cmdline=<command line>
//   command 73 pid=<pid> tick=<GetTickCount>
//   exit pid=<pid> tick=<GetTickCount>
//
// quorin.ini beside it, [Host] IgnoreClose=1, makes it hang on command 73
// instead (for HangMs milliseconds, 20000 by default) without closing.
// [Host] Hold=diction\vg.qd diction\bg.qd (paths relative to its folder,
// separated by blanks) makes it hold those files open while it runs, as a
// dictionary program does: read access, shared for reading only, so that
// another program can neither replace nor delete them. Each is logged:
//
//   held <path> size=<bytes> pid=<pid> tick=<GetTickCount>
//   not held <path> error=<GetLastError> pid=<pid> tick=<GetTickCount>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr WPARAM kCloseCommand = 73;

std::string BesideMe(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return name;
    std::string result(path, length);
    return result.substr(0, result.find_last_of('\\') + 1) + name;
}

void Log(const std::string &event)
{
    char line[1024];
    std::snprintf(line, sizeof line, "%s pid=%lu tick=%lu", event.c_str(), GetCurrentProcessId(),
                  GetTickCount());
    std::string text = line;
    text += "\r\n";
    HANDLE file = CreateFileA(BesideMe("quorin.log").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kCloseCommand) {
            Log("command 73");
            std::string settings = BesideMe("quorin.ini");
            if (GetPrivateProfileIntA("Host", "IgnoreClose", 0, settings.c_str()) != 0) {
                // A host that hangs: it neither closes nor answers.
                Sleep(GetPrivateProfileIntA("Host", "HangMs", 20000, settings.c_str()));
                return 0;
            }
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The files [Host] Hold names, open until the program ends. They are opened
// before the window exists, so that whoever sees the window finds them held.
struct HeldFiles {
    HeldFiles();
    ~HeldFiles()
    {
        for (HANDLE file : handles)
            CloseHandle(file);
    }
    std::vector<HANDLE> handles;
};

HeldFiles::HeldFiles()
{
    char list[1024];
    GetPrivateProfileStringA("Host", "Hold", "", list, sizeof list, BesideMe("quorin.ini").c_str());
    for (char *name = std::strtok(list, " "); name != nullptr; name = std::strtok(nullptr, " ")) {
        HANDLE file = CreateFileA(BesideMe(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Log(std::string("not held ") + name + " error=" + std::to_string(GetLastError()));
            continue;
        }
        Log(std::string("held ") + name + " size=" + std::to_string(GetFileSize(file, nullptr)));
        handles.push_back(file);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Log(std::string("start cmdline=") + GetCommandLineA());
    HeldFiles held;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "QuorinClass";
    if (!RegisterClassA(&windowClass)) return 1;

    HWND window = CreateWindowExA(0, "QuorinClass", "Quorin", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, show);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    Log("exit");
    return 0;
}
