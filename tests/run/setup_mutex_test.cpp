// One setup at a time: a setup that finds the machine-wide setup mutex held
// by someone else waits for it, goes on when the holder lets go or dies, and
// after its bound gives up with 1618 having changed nothing. An object of
// that name that is no mutex blocks nobody.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "sandbox.h"
#include "testbed.h"

namespace {

const char kSetupMutex[] = "Global\\Quorin.ModuleSetup";
const char kLog[] = "C:\\bed\\setup-mutex.log";

// Takes the setup mutex on a thread of its own, as another setup would, and
// holds it for holdMs, until ready() holds (asked every 20 ms on that
// thread), or until the holder goes out of scope; then lets it go, or,
// when abandon is set, ends without letting go, as a setup killed while it
// held the mutex.
class Holder {
public:
    Holder(DWORD holdMs, bool abandon, std::function<bool()> ready = {})
        : taken_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), letGo_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
        thread_ = std::thread([=] {
            HANDLE mutex = CreateMutexA(nullptr, FALSE, kSetupMutex);
            WaitForSingleObject(mutex, INFINITE);
            SetEvent(taken_);
            DWORD start = GetTickCount();
            while (WaitForSingleObject(letGo_, ready ? 20 : holdMs) == WAIT_TIMEOUT && ready && !ready() &&
                   GetTickCount() - start < holdMs) {
            }
            if (!abandon) ReleaseMutex(mutex);
            CloseHandle(mutex);
        });
        WaitForSingleObject(taken_, 5000);
    }
    ~Holder()
    {
        SetEvent(letGo_);
        thread_.join();
        CloseHandle(taken_);
        CloseHandle(letGo_);
    }

private:
    HANDLE taken_;
    HANDLE letGo_;
    std::thread thread_;
};

class SetupMutex : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox::Provision();
        DeleteFileA(kLog);
    }
    void TearDown() override
    {
        DeleteFileA(kLog);
        sandbox::Clean();
    }
    static std::string Log() { return sandbox::ReadFileBytes(kLog); }
    static testbed::RunResult Install(testbed::WindowHandler handler = {})
    {
        return testbed::RunSetup(std::string(" /log=") + kLog + " in", 90000, std::move(handler));
    }
};

// The order of events, not a span of time, so that a busy machine changes
// nothing: the run starts and waits; the other setup, which lets go only
// once the run's log says it waits, finds that the run has done nothing
// else yet; then the run does its work.
TEST_F(SetupMutex, ARunWaitsForTheOtherSetupAndThenInstalls)
{
    std::string atRelease;
    testbed::RunResult run;
    {
        Holder holder(60000, false, [&] {
            std::string log = Log();
            if (log.find("another setup is running: waiting") == std::string::npos) return false;
            atRelease = log;
            return true;
        });
        run = Install();
    }
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), "1");
    ASSERT_FALSE(atRelease.empty()) << "the run never said it waits: " << Log();
    EXPECT_NE(atRelease.find("start: "), std::string::npos) << atRelease;
    EXPECT_EQ(atRelease.find("context: product"), std::string::npos) << "work done while the mutex was held";
    std::string log = Log();
    size_t waiting = log.find("another setup is running: waiting");
    size_t waited = log.find("waited ", waiting);
    ASSERT_NE(waited, std::string::npos) << log;
    EXPECT_LT(waited, log.find("context: product")) << "the wait comes before the context is made";
    EXPECT_LT(log.find("context: product"), log.find("end: exit code 0")) << log;
}

// Every stage is safe to run again, so a mutex whose holder died is taken
// and the run goes on.
TEST_F(SetupMutex, AHolderThatDiedDoesNotStopTheRun)
{
    testbed::RunResult run;
    {
        Holder holder(1500, true);
        run = Install();
    }
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), "1");
    EXPECT_NE(Log().find("took the abandoned setup mutex"), std::string::npos) << Log();
}

TEST_F(SetupMutex, AnObjectOfItsNameThatIsNoMutexBlocksNobody)
{
    HANDLE planted = CreateEventA(nullptr, TRUE, FALSE, kSetupMutex);
    ASSERT_NE(planted, nullptr);
    testbed::RunResult run = Install();
    CloseHandle(planted);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), "1");
    EXPECT_NE(Log().find("no setup mutex, going on without it: error 6"), std::string::npos) << Log();
}

// A minute's wait: run in the shipped 32-bit configuration only.
TEST_F(SetupMutex, AfterTheBoundTheRunGivesUpWithNothingChanged)
{
#if !defined(__i386__)
    GTEST_SKIP() << "the minute-long wait runs in the i686 configuration";
#endif
    std::string before = sandbox::Snapshot();
    testbed::RunResult run;
    DWORD start = GetTickCount();
    {
        Holder holder(INFINITE, false);
        run = Install([](HWND window, const testbed::WindowSeen &seen) {
            EXPECT_EQ(seen.caption, "Quorin German Dictionary");
            EXPECT_EQ(seen.text, "Another setup of Quorin is running. Run this setup again when it has finished.");
            EXPECT_EQ(seen.exStyle & WS_EX_TOPMOST, static_cast<DWORD>(WS_EX_TOPMOST)) << "system-modal";
            testbed::CloseWindowPolitely(window);
            return true;
        });
    }
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(run.exitCode, 1618u);
    EXPECT_EQ(run.handled.size(), 1u);
    EXPECT_GE(elapsed, 60000u);
    EXPECT_EQ(sandbox::Snapshot(), before);
    std::string log = Log();
    EXPECT_NE(log.find("gave up waiting"), std::string::npos) << log;
    EXPECT_NE(log.find("end: exit code 1618 after "), std::string::npos) << log;
}

}  // namespace
