// Running the program as a child process, and meeting its boxes and dialogs.
// A box or dialog that a test does not handle is recorded and closed at once,
// so a test that did not expect one fails fast instead of hanging.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testbed {

struct WindowSeen {
    std::string className;
    std::string caption;
    std::string text;  // a message box's text (control 0xFFFF), else empty
    DWORD style = 0;
    DWORD exStyle = 0;
    bool hasIcon = false;    // a message box showing an icon
    // The icon is the error icon. Icon images can only be compared within
    // one process under Wine, so this is known for in-process boxes only.
    bool errorIcon = false;
};

// Called for every visible top-level window of the watched process; returns
// true when it handled the window (and closed it, or means to leave it),
// false to let the watcher record it as unexpected and close it.
using WindowHandler = std::function<bool(HWND window, const WindowSeen &seen)>;

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    DWORD startError = 0;  // GetLastError of a start that failed, else 0
    bool timedOut = false;
    std::vector<WindowSeen> unexpected;  // windows nobody handled, closed
    std::vector<WindowSeen> handled;
};

// Full path of setup.exe beside the running test executable.
std::string SetupPath();

// Starts "<exePath>" + tail; the caller waits for it and closes the handles.
bool StartProgram(const std::string &exePath, const std::string &tail, PROCESS_INFORMATION *process);

// Waits for a started process (its id processId) until it ends or
// timeoutMs after start (GetTickCount) have passed, when it is killed;
// handles its windows as above and fills result's windows, timeout and exit
// code. The caller keeps and closes the handle.
void WatchProcess(HANDLE process, DWORD processId, DWORD start, DWORD timeoutMs, const WindowHandler &handler,
                  RunResult &result);

// Runs "<setup.exe path>" + tail (tail as given, e.g. " un"), waits up to
// timeoutMs, handling windows as above. A run that times out is killed.
RunResult RunProgram(const std::string &exePath, const std::string &tail, DWORD timeoutMs = 30000,
                     WindowHandler handler = {});
RunResult RunSetup(const std::string &tail, DWORD timeoutMs = 30000, WindowHandler handler = {});

// What the next restart of Windows does to files, as Wine does it: wineboot
// carries out the renames and deletions scheduled for it. Whoever holds one
// of those files must let go first, as a restart makes every program do.
// True when wineboot ended with 0.
bool RestartWindows();

// The screen's DPI for programs started from now on, as the display
// settings' scale sets it (Wine reads HKCU\Control Panel\Desktop LogPixels
// as each program starts); 0 takes the setting away, back to 96. ScreenDpi
// is what was last set: this program keeps the DPI it was started with.
void SetScreenDpi(DWORD dpi);
int ScreenDpi();

// Describes a window as the watcher sees it.
WindowSeen Describe(HWND window);

// Closes a message box or dialog as Enter/OK would.
void CloseWindowPolitely(HWND window);

// A copy of library loaded from a path of more than 260 characters below
// base, which the ANSI calls cannot even name: how an in-process test gives
// the program an own path that no path buffer holds. Null when it cannot be
// made. RemoveDeepTree(base) takes it away once the library is freed.
HMODULE LoadDeepCopy(const std::string &library, const std::string &base);

// Removes path and everything below it, however long the paths are.
void RemoveDeepTree(const std::string &path);

// Watches this process's own boxes from a second thread while a test calls
// an operation in-process; each box is recorded and closed.
class BoxWatcher {
public:
    BoxWatcher();
    ~BoxWatcher();
    std::vector<WindowSeen> Seen();

private:
    static DWORD WINAPI Loop(void *self);
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<WindowSeen> seen_;
};

// How far the stack pointer moved across one call of fn through its declared
// type: 0 when the type's calling convention is the one the callee really
// follows. A 32-bit build alone can get this wrong (a __stdcall callee pops
// its arguments, a __cdecl one leaves them); the frame pointer of every
// caller hides the slip, so nothing else in a run would show it. On x86_64
// there is one convention and the answer is always 0.
namespace detail {
inline volatile uintptr_t gStackBefore, gStackAfter;  // not on the stack being measured
}
template <typename Fn, typename... Args>
__attribute__((noinline, optimize("no-omit-frame-pointer"))) long StackDrift(Fn fn, Args... args)
{
#if defined(__i386__)
    asm volatile("movl %%esp, %0" : "=m"(detail::gStackBefore)::"memory");
    fn(args...);
    asm volatile("movl %%esp, %0" : "=m"(detail::gStackAfter)::"memory");
    return static_cast<long>(detail::gStackAfter - detail::gStackBefore);
#else
    fn(args...);
    return 0;
#endif
}

// Writes a file with an old last-write time, so that an install replaces it.
void WriteOldFile(const std::string &path, const std::string &content);

// A Unix symbolic link at link (a Windows path) to target, made with ln:
// the one way to a reparse point under Wine, where it stands for a
// junction. False when it cannot be made. RemoveUnixLink takes the link
// away without touching its target, which deleting through Wine would not.
bool MakeUnixLink(const std::string &target, const std::string &link);
void RemoveUnixLink(const std::string &link);

}  // namespace testbed
