// Test double of the unpacker library that stops the run at a known point:
// UnZip signals the event the test names in QUORIN_GATE_EVENT (the archive
// is written in full by then) and waits there until the test kills the run.
#include <windows.h>

extern "C" int WINAPI UnZip(const char *)
{
    char name[64];
    DWORD length = GetEnvironmentVariableA("QUORIN_GATE_EVENT", name, sizeof name);
    if (length == 0 || length >= sizeof name) return 1;
    HANDLE reached = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (reached == nullptr) return 1;
    SetEvent(reached);
    CloseHandle(reached);
    Sleep(60000);  // the test kills the run long before
    return 1;
}
