// The imports the program calls most often, declared again without the
// import attribute, so that each call site calls the import library's jump
// to the function (a relative call) instead of reading the import address
// table at an absolute address. Every such address needs a relocation, two
// bytes of the file each; a jump needs one. Read into every source of the
// program before anything else (see src/CMakeLists.txt).
#pragma once

#include <windows.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes" // the import attribute is dropped on purpose
extern "C" {
WINBOOL WINAPI CloseHandle(HANDLE);
DWORD WINAPI GetFileAttributesA(LPCSTR);
DWORD WINAPI GetLastError(VOID);
HANDLE WINAPI CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
DWORD WINAPI GetPrivateProfileStringA(LPCSTR, LPCSTR, LPCSTR, LPSTR, DWORD, LPCSTR);
HANDLE WINAPI FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA);
HLOCAL WINAPI LocalFree(HLOCAL);
LONG WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
int WINAPI lstrcmpiA(LPCSTR, LPCSTR);
DWORD WINAPI GetTickCount(VOID);
LONG WINAPI RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR);
WINBOOL WINAPI MoveFileExA(LPCSTR, LPCSTR, DWORD);
WINBOOL WINAPI FindNextFileA(HANDLE, LPWIN32_FIND_DATAA);
}
#pragma GCC diagnostic pop
