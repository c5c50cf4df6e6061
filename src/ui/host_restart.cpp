// Restarting the product's main program: tell its window to close, keep our
// own messages flowing for a second, and start it again.
#include "ui/host_restart.h"

#include <windows.h>

#include "context/install_context.h"
#include "support/handles.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

constexpr const char *kHostClass = "QuorinClass";
constexpr WPARAM kCloseCommand = 73;
constexpr int kPumpMs = 1000;
constexpr DWORD kIdleWaitMs = 1000;
constexpr DWORD kFinalWaitMs = 1000;
// A host that does not answer the close command within this time is taken
// to hang; the setup goes on instead of hanging with it.
constexpr UINT kCloseTimeoutMs = 5000;

// Starts the host with the token of the shell's process (the desktop's
// owner: the person who started the setup, without its elevation), so that
// the product does not inherit the administrator rights the setup runs with:
// an elevated product would take no files dragged from Explorer and would
// save documents as an administrator. The shell's own token is a primary
// one, opened with the three rights CreateProcessWithTokenW asks of it, so
// it needs no duplicate. Returns 0 once the host runs, else the step that
// failed: 1 no shell window (a service account, Windows' own setup), 2 its
// process not opened, 3 its token not opened, 4 the host not started so.
int StartAsShellUser(const char *path, STARTUPINFOW *startup, PROCESS_INFORMATION *created)
{
    DWORD id = 0;
    GetWindowThreadProcessId(GetShellWindow(), &id);
    if (id == 0) return 1;
    OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process) return 2;
    OwnedHandle token;
    if (!OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, token.Receive()))
        return 3;
    wchar_t widePath[kPathCapacity];
    wchar_t commandLine[] = L"no";  // written into, as by CreateProcessA
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, kPathCapacity) ||
        !CreateProcessWithTokenW(token.Get(), 0, widePath, commandLine, 0, nullptr, nullptr, startup, created))
        return 4;
    return 0;
}

void StartHost()
{
    // Only the host in the product directory is started, never one found on
    // the search path.
    const char *productDir = Install().ProductDir;
    char path[kPathCapacity];
    if (productDir[0] == '\0' || !JoinPath(path, productDir, kHostProgram))
        return;

    // One start-up record for both ways: the two types differ only in the
    // text pointers, all null here.
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created;
    const char *way = "shell's";
    if (int step = StartAsShellUser(path, &startup, &created)) {
        LogFailure("%s token not used at step %d", way, step);
        way = "setup's";
        char commandLine[] = "no";  // CreateProcessA may write into its command line
        if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            reinterpret_cast<STARTUPINFOA *>(&startup), &created)) {
            LogFailure("host %s not started", path);
            return;
        }
    }
    LogEvent("host %s started with the %s token", path, way);

    // Declared in this order so that the process handle closes first.
    OwnedHandle thread(created.hThread);
    OwnedHandle process(created.hProcess);
    WaitForInputIdle(process.Get(), kIdleWaitMs);
    WaitForSingleObjectEx(process.Get(), kFinalWaitMs, TRUE);
}

}  // namespace

void RestartHost(void (*whileClosed)())
{
    HWND host = FindWindowA(kHostClass, nullptr);
    if (host == nullptr) {
        LogEvent("host not running");
        if (whileClosed) whileClosed();
        return;
    }
    // Taken while the old instance surely runs: its files are free only once
    // the process is gone, which may be a moment after its window.
    DWORD id = 0;
    GetWindowThreadProcessId(host, &id);
    OwnedHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));

    DWORD_PTR ignored = 0;
    bool closing =
        SendMessageTimeoutA(host, WM_COMMAND, kCloseCommand, 0, SMTO_ABORTIFHUNG, kCloseTimeoutMs, &ignored);
    if (closing)
        LogEvent("host told to close");
    else
        LogFailure("host did not answer");
    PumpMessagesFor(kPumpMs);
    if (whileClosed) {
        // A host that did not answer is not waited for: it is hung.
        if (closing) WaitForSingleObjectEx(process.Get(), kCloseTimeoutMs, FALSE);
        whileClosed();
    }
    StartHost();
}

int ElapsedTicks(DWORD start, DWORD now) { return static_cast<int>(now - start); }

void PumpMessagesFor(int duration)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (ElapsedTicks(start, GetTickCount()) > duration) break;
    }
}
