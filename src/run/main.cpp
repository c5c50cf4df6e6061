// The program's entry point: the whole run is RunSetup.
#include <windows.h>

#include "run/setup_run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return RunSetup(instance, GetCommandLineA());
}
