#include "run/setup_mutex.h"

#include <windows.h>

#include "support/run_log.h"

namespace {

// The same name in every module's build and in the copy kept in the
// uninstall entry. In the global namespace, so that setups in different
// sessions (a user's desktop, a deployment service) see one another.
// Creating global objects is a right of administrators and services, so a
// standard user cannot plant one of this name for the setup to wait on.
constexpr const char *kSetupMutexName = "Global\\Quorin.ModuleSetup";

// A setup takes seconds (the largest module measured, 200 MB, about five):
// a minute outlasts several queued setups, yet a deployment tool hears
// "busy" (1618) soon enough to retry later instead of waiting for ever.
constexpr DWORD kSetupWaitMs = 60000;

HANDLE gSetupMutex = nullptr;

}  // namespace

bool TakeSetupMutex()
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kSetupMutexName);
    DWORD waited = mutex != nullptr ? WaitForSingleObjectEx(mutex, 0, FALSE) : WAIT_FAILED;
    if (waited == WAIT_TIMEOUT) {
        LogEvent("another setup is running: waiting");
        DWORD start = GetTickCount();
        waited = WaitForSingleObjectEx(mutex, kSetupWaitMs, FALSE);
        LogEvent("waited %lu ms", GetTickCount() - start);
    }
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        // Abandoned: its holder ended without letting go (killed). Every
        // stage is safe to run again, so this run goes on as usual.
        if (waited == WAIT_ABANDONED) LogEvent("took the abandoned setup mutex");
        gSetupMutex = mutex;
        return true;
    }
    if (waited == WAIT_TIMEOUT) {
        LogEvent("gave up waiting");
        CloseHandle(mutex);
        return false;
    }
    // Nobody else's object may block a setup for good.
    LogFailure("no setup mutex, going on without it");
    if (mutex != nullptr) CloseHandle(mutex);
    return true;
}

void ReleaseSetupMutex()
{
    if (gSetupMutex == nullptr) return;
    ReleaseMutex(gSetupMutex);
    CloseHandle(gSetupMutex);
    gSetupMutex = nullptr;
}
