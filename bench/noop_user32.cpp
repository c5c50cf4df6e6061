// A do-nothing Windows program that imports user32, as every GUI program
// does: under Wine, loading user32 alone (it connects to the display)
// costs about as much again as the bare start.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show)
{
    if (show == -12345) MessageBoxA(nullptr, "", "", MB_OK);  // never: only the import counts
    return 0;
}
