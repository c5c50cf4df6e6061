// A version.dll as someone might plant it beside a downloaded setup.exe:
// when it is loaded, it leaves a mark that the test looks for, and its
// functions give no version information. It exports what Wine's own user32
// imports from version.dll (the W functions) and what a program reading its
// identity would use (the A functions), so that a process it is loaded into
// still starts.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void *)
{
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE mark = CreateFileA("C:\\bed\\planted-version-loaded.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
    }
    return TRUE;
}

extern "C" {
DWORD WINAPI PlantedInfoSize(const void *, DWORD *) { return 0; }
BOOL WINAPI PlantedInfo(const void *, DWORD, DWORD, void *) { return FALSE; }
BOOL WINAPI PlantedQuery(const void *, const void *, void **, UINT *) { return FALSE; }
}
