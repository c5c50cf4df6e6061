// Restarting the host: the close command, the pause, the new instance with
// "no", and the one-second message pump. The host stand-in logs what it
// meets to quorin.log beside itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "context/install_context.h"
#include "sandbox.h"
#include "support/run_log.h"
#include "support/text.h"
#include "testbed.h"
#include "ui/host_restart.h"

// Exported by user32 (for the shell itself), not declared by the headers.
extern "C" __declspec(dllimport) BOOL WINAPI SetShellWindow(HWND window);

namespace {

std::string HostPath() { return std::string(sandbox::kProductDir) + "quorin.exe"; }
std::string LogPath() { return std::string(sandbox::kProductDir) + "quorin.log"; }

struct LogLine {
    std::string event;  // "start cmdline=...", "command 73", "exit"
    unsigned long pid = 0;
    unsigned long tick = 0;
};

std::vector<LogLine> ReadLog()
{
    std::vector<LogLine> lines;
    std::istringstream in(sandbox::ReadFileBytes(LogPath()));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t at = line.rfind(" pid=");
        if (at == std::string::npos) continue;
        LogLine entry;
        entry.event = line.substr(0, at);
        sscanf(line.c_str() + at, " pid=%lu tick=%lu", &entry.pid, &entry.tick);
        lines.push_back(entry);
    }
    return lines;
}

std::vector<LogLine> Events(const std::string &prefix)
{
    std::vector<LogLine> found;
    for (const LogLine &line : ReadLog())
        if (line.event.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    return found;
}

// Starts the host as a person would and waits until its window is there.
bool StartHost()
{
    std::string commandLine = "\"" + HostPath() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(HostPath().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &created))
        return false;
    WaitForInputIdle(created.hProcess, 5000);
    CloseHandle(created.hThread);
    CloseHandle(created.hProcess);
    for (int i = 0; i < 500 && !FindWindowA("QuorinClass", nullptr); ++i)
        Sleep(10);
    return FindWindowA("QuorinClass", nullptr) != nullptr;
}

// Ends every host the test or the program started, hung ones included.
void KillHosts()
{
    for (int round = 0; round < 50; ++round) {
        HWND window = FindWindowA("QuorinClass", nullptr);
        if (!window) {
            // A host started a moment ago may not have its window yet.
            if (round > 0) return;
            Sleep(300);
            continue;
        }
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (process) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        for (int i = 0; i < 100 && IsWindow(window); ++i)
            Sleep(10);
    }
}

// The test plays the desktop's shell, whose process token the restart
// starts the product with: a top-level window of its own set as the shell
// window (Wine has none of its own). Closed, the test's process also admits
// nobody to open it (an empty access list), as a shell of another user or a
// protected one refuses the setup. Both are undone when it goes.
class PlayedShell {
  public:
    explicit PlayedShell(bool closed = false)
    {
        window_ = CreateWindowExA(0, "STATIC", "shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        set_ = window_ != nullptr && SetShellWindow(window_);
        if (!closed) return;
        GetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &savedAcl_, nullptr, &saved_);
        ACL empty;
        InitializeAcl(&empty, sizeof empty, ACL_REVISION);
        set_ = set_ && saved_ != nullptr &&
               SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                               &empty, nullptr) == ERROR_SUCCESS;
    }
    ~PlayedShell()
    {
        if (saved_) {
            SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            savedAcl_, nullptr);
            LocalFree(saved_);
        }
        if (window_) DestroyWindow(window_);  // the shell window goes with it
    }
    bool Set() const { return set_; }

  private:
    HWND window_ = nullptr;
    PACL savedAcl_ = nullptr;
    PSECURITY_DESCRIPTOR saved_ = nullptr;
    bool set_ = false;
};

const char kRunLog[] = "C:\\bed\\restart.log";

// The lines of the setup's own log that tell how the host was started.
std::vector<std::string> StartLines()
{
    std::vector<std::string> found;
    std::istringstream in(sandbox::ReadFileBytes(kRunLog));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 24 && (line.find(" token") != std::string::npos)) found.push_back(line.substr(24));
    }
    return found;
}

// The window of the product belongs to the instance started last (on a
// busy machine it may take a moment to come, and the old one to go).
void ExpectNewInstanceHoldsTheWindow(const std::vector<LogLine> &starts)
{
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].event, "start cmdline=no");
    EXPECT_NE(starts[1].pid, starts[0].pid);
    DWORD owner = 0;
    for (int i = 0; i < 100 && owner != starts[1].pid; ++i) {
        if (i) Sleep(50);
        owner = 0;
        GetWindowThreadProcessId(FindWindowA("QuorinClass", nullptr), &owner);
    }
    EXPECT_EQ(owner, starts[1].pid) << "the old instance was " << starts[0].pid;
}

class HostRestartTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        KillHosts();
        sandbox::Provision();
        DeleteFileA(LogPath().c_str());
        ResetInstallContext();
        CopyText(Install().ProductDir, kPathCapacity, sandbox::kProductDir);
    }
    void TearDown() override
    {
        KillHosts();
        DeleteFileA(LogPath().c_str());
        sandbox::Clean();
    }
};

TEST_F(HostRestartTest, HostNotRunningIsLeftAlone)
{
    DWORD start = GetTickCount();
    RestartHost();
    EXPECT_LT(GetTickCount() - start, 500u);  // no pause
    Sleep(500);
    EXPECT_FALSE(sandbox::FileExists(LogPath()));  // nothing started
    EXPECT_EQ(FindWindowA("QuorinClass", nullptr), nullptr);
}

TEST_F(HostRestartTest, RunningHostIsClosedAndStartedWithNo)
{
    ASSERT_TRUE(StartHost());
    DWORD start = GetTickCount();
    RestartHost();
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 5000u);

    Sleep(300);
    std::vector<LogLine> commands = Events("command 73");
    std::vector<LogLine> starts = Events("start ");
    ASSERT_EQ(commands.size(), 1u);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].event, "start cmdline=no");
    EXPECT_NE(starts[1].pid, starts[0].pid);
    EXPECT_EQ(commands[0].pid, starts[0].pid);
    // The new instance comes about a second after the command.
    unsigned long gap = starts[1].tick - commands[0].tick;
    EXPECT_GE(gap, 950u);
    EXPECT_LT(gap, 3000u);
    // The first instance closed itself; the new one runs.
    std::vector<LogLine> exits = Events("exit");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0].pid, starts[0].pid);
    EXPECT_NE(FindWindowA("QuorinClass", nullptr), nullptr);
}

// With a shell on the desktop the product comes back with the shell's token:
// as the person who started the setup, not with the setup's elevation.
// Without it the product still comes back, as before with the setup's own,
// and the log says which step stood in the way.
TEST_F(HostRestartTest, HostComesBackWithTheShellsTokenElseWithTheSetupsOwn)
{
    const std::string started = "host " + HostPath() + " started with the ";
    struct Case {
        bool shell, closed;
        std::vector<std::string> lines;  // a failed step's line ends in its error
    } const cases[] = {
        {true, false, {started + "shell's token"}},
        {false, false, {"shell's token not used at step 1: error ", started + "setup's token"}},  // a service account
        {true, true, {"shell's token not used at step 2: error 5", started + "setup's token"}},  // refused to open
    };
    for (const Case &c : cases) {
        KillHosts();
        DeleteFileA(LogPath().c_str());
        std::unique_ptr<PlayedShell> shell(c.shell ? new PlayedShell(c.closed) : nullptr);
        ASSERT_TRUE(!shell || shell->Set()) << c.lines[0];
        ASSERT_TRUE(StartHost()) << c.lines[0];
        DeleteFileA(kRunLog);
        ASSERT_TRUE(OpenRunLog(kRunLog));
        RestartHost();
        CloseRunLog();
        shell.reset();
        Sleep(300);
        std::vector<std::string> lines = StartLines();
        ASSERT_EQ(lines.size(), c.lines.size()) << c.lines[0];
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].substr(0, c.lines[i].size()), c.lines[i]);
        ExpectNewInstanceHoldsTheWindow(Events("start "));
        DeleteFileA(kRunLog);
    }
}

TEST_F(HostRestartTest, HostMissingFromProductDirIsOnlyClosed)
{
    ASSERT_TRUE(StartHost());
    // The product directory names a folder without quorin.exe.
    std::string elsewhere = std::string(sandbox::kProductDir) + "diction\\";
    CopyText(Install().ProductDir, kPathCapacity, elsewhere.c_str());
    RestartHost();
    Sleep(300);
    EXPECT_EQ(Events("command 73").size(), 1u);
    EXPECT_EQ(Events("start ").size(), 1u);
    EXPECT_EQ(FindWindowA("QuorinClass", nullptr), nullptr);
}

TEST_F(HostRestartTest, HungHostDoesNotHangTheSetup)
{
    sandbox::WriteIni(std::string(sandbox::kProductDir) + "quorin.ini", "Host", "IgnoreClose", "1");
    sandbox::WriteIni(std::string(sandbox::kProductDir) + "quorin.ini", "Host", "HangMs", "30000");
    ASSERT_TRUE(StartHost());
    DWORD start = GetTickCount();
    RestartHost();
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 10000u);  // 5 s for the command, then the restart
    Sleep(300);
    EXPECT_EQ(Events("command 73").size(), 1u);
    std::vector<LogLine> starts = Events("start ");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].event, "start cmdline=no");
}

// The program's own runs: only an interactive install restarts the host.
TEST_F(HostRestartTest, InteractiveInstallRestartsSilentOneDoesNot)
{
    ASSERT_TRUE(StartHost());
    testbed::RunResult silent = testbed::RunSetup(" in", 60000);
    EXPECT_FALSE(silent.timedOut);
    EXPECT_TRUE(silent.unexpected.empty());
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), "1");
    EXPECT_EQ(Events("command 73").size(), 0u);
    EXPECT_EQ(Events("start ").size(), 1u);

    // The interactive run on a desktop with a shell: the setup, another
    // process, opens the shell's process and starts the product with its token.
    sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install", "0");
    PlayedShell shell;
    ASSERT_TRUE(shell.Set());
    DeleteFileA(kRunLog);
    int dialogs = 0;
    testbed::RunResult interactive =
        testbed::RunSetup(std::string(" /log=") + kRunLog, 60000, [&](HWND window, const testbed::WindowSeen &seen) {
            if (seen.caption != "German Dictionary Setup") return false;
            ++dialogs;
            PostMessageA(window, WM_COMMAND, dialogs == 1 ? IDOK : IDCANCEL, 0);
            return true;
        });
    EXPECT_FALSE(interactive.timedOut);
    EXPECT_TRUE(interactive.unexpected.empty());
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(interactive.exitCode, 0u);
    EXPECT_EQ(Events("command 73").size(), 1u);
    EXPECT_EQ(StartLines(), std::vector<std::string>{"host " + HostPath() + " started with the shell's token"});
    ExpectNewInstanceHoldsTheWindow(Events("start "));
    DeleteFileA(kRunLog);
}

// An installed vg.qd older than the payload's, so that an install replaces it.
std::string WriteOldVg()
{
    std::string path = std::string(sandbox::kDictionaryDir) + "vg.qd";
    sandbox::WriteTextFile(path, "the installed vg.qd");
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME old{0, 0x01000000};  // in 1829
    SetFileTime(file, nullptr, nullptr, &old);
    CloseHandle(file);
    return path;
}

// Presses Start in the first dialog and OK in the closing form; every other
// window is recorded in order and closed.
testbed::RunResult RunInteractiveInstall(std::vector<std::string> *order)
{
    return testbed::RunSetup("", 60000, [order](HWND window, const testbed::WindowSeen &seen) {
        order->push_back(seen.caption + ": " + seen.text);
        bool dialog = seen.caption == "German Dictionary Setup";
        PostMessageA(window, WM_COMMAND, dialog && order->size() == 1 ? IDOK : IDCANCEL, 0);
        return dialog || seen.text.rfind("Windows must be restarted", 0) == 0;
    });
}

// An update while the product runs and holds a dictionary file: the file is
// replaced between the old instance and the new one, which opens the new copy.
TEST_F(HostRestartTest, InteractiveUpdateReplacesAFileTheProductHolds)
{
    std::string vg = WriteOldVg();
    sandbox::WriteIni(std::string(sandbox::kProductDir) + "quorin.ini", "Host", "Hold", "diction\\vg.qd");
    ASSERT_TRUE(StartHost());
    std::vector<std::string> order;
    testbed::RunResult run = RunInteractiveInstall(&order);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(order.size(), 2u) << "the two showings of the dialog, no other box";
    EXPECT_TRUE(sandbox::PendingRenames().empty());
    EXPECT_FALSE(sandbox::FileExists(vg + "~"));

    Sleep(300);
    std::vector<LogLine> held = Events("held diction\\vg.qd");
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].event, "held diction\\vg.qd size=19");
    EXPECT_EQ(held[1].event, "held diction\\vg.qd size=" + std::to_string(sandbox::ReadFileBytes(vg).size()));
    EXPECT_NE(sandbox::ReadFileBytes(vg), "the installed vg.qd");
    std::vector<LogLine> commands = Events("command 73");
    std::vector<LogLine> starts = Events("start ");
    ASSERT_EQ(commands.size(), 1u);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(held[1].pid, starts[1].pid);
    EXPECT_LT(starts[1].tick - commands[0].tick, 3000u) << "the restart's pace, as without a held file";
}

// A file another program holds stays held through the host restart: its
// replacement waits for the restart of Windows, and the user learns so in a
// box before the closing form.
TEST_F(HostRestartTest, InteractiveUpdateOverAFileAnotherProgramHolds)
{
    std::string vg = WriteOldVg();
    HANDLE other = CreateFileA(vg.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    std::vector<std::string> order;
    testbed::RunResult run = RunInteractiveInstall(&order);
    CloseHandle(other);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_EQ(run.exitCode, 3010u);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[1],
              "Quorin German Dictionary: Windows must be restarted to finish installing this module.");
    ASSERT_EQ(run.handled.size(), 3u);
    EXPECT_TRUE(run.handled[1].exStyle & WS_EX_TOPMOST) << "system-modal";
    EXPECT_TRUE(run.handled[1].hasIcon);
    EXPECT_EQ(sandbox::PendingRenames(), std::vector<std::string>{"rename " + vg + "~ to !" + vg});

    std::string staged = sandbox::ReadFileBytes(vg + "~");
    EXPECT_EQ(sandbox::ReadFileBytes(vg), "the installed vg.qd");
    ASSERT_TRUE(testbed::RestartWindows());
    EXPECT_EQ(sandbox::ReadFileBytes(vg), staged);
    EXPECT_GT(staged.size(), 1000u);
}

// A window of this thread that counts what reaches it.
std::vector<UINT> gDispatched;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP) gDispatched.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CountingWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "PumpCounter";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "PumpCounter", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                           nullptr);
}

TEST(PumpMessagesFor, RunsJustOverTheDurationAndDispatchesEachMessageOnce)
{
    HWND window = CountingWindow();
    ASSERT_NE(window, nullptr);
    gDispatched.clear();
    PostMessageA(window, WM_APP + 1, 0, 0);  // waiting before the pump starts
    std::thread poster([window] {
        Sleep(300);
        PostMessageA(window, WM_APP + 2, 0, 0);  // arriving during the pump
    });
    DWORD start = GetTickCount();
    PumpMessagesFor(1000);
    DWORD took = GetTickCount() - start;
    poster.join();
    EXPECT_GT(took, 1000u);
    EXPECT_LT(took, 1300u);
    EXPECT_EQ(gDispatched, (std::vector<UINT>{WM_APP + 1, WM_APP + 2}));

    // The first pass always runs, even for no time at all.
    gDispatched.clear();
    PostMessageA(window, WM_APP + 3, 0, 0);
    start = GetTickCount();
    PumpMessagesFor(0);
    EXPECT_LT(GetTickCount() - start, 100u);
    EXPECT_EQ(gDispatched, (std::vector<UINT>{WM_APP + 3}));
    DestroyWindow(window);
}

}  // namespace

namespace {

TEST(ElapsedTicks, CountsRightAcrossTheWrapAround)
{
    struct Case {
        DWORD start, now;
        int elapsed;
    };
    const Case cases[] = {
        {1000, 2001, 1001},
        {0xFFFFFF00u, 0x000000E8u, 0x1E8},  // the counter wrapped during the pump
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0},
        {5000, 4990, -10},  // never "long past" when the clock reads backwards
    };
    for (const Case &c : cases)
        EXPECT_EQ(ElapsedTicks(c.start, c.now), c.elapsed) << c.start << " " << c.now;
}

}  // namespace
