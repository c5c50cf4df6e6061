// The program's entry point. The program needs nothing of the C runtime's
// start-up (no static constructors, no arguments parsed, no atexit), so it
// starts here directly and stays small; the whole run is RunSetup.
#include <windows.h>

#include "run/setup_run.h"
#include "support/libraries.h"

// Named only by the linker: kept whole when the program is optimised at link
// time.
extern "C" __attribute__((used, externally_visible)) void WinMainCRTStartup()
{
    RestrictLibrarySearch();
    ExitProcess(static_cast<UINT>(RunSetup(GetModuleHandleA(nullptr), GetCommandLineA())));
}
