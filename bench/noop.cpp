// A Windows program that does nothing: the yardstick for start-up cost.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
