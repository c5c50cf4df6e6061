// Test double of the unpacker library, for the tests of the setup program's
// side of the contract: UnZip unpacks nothing and returns the number in the
// environment variable QUORIN_FAKE_UNZIP_RESULT (1 when unset). When
// QUORIN_FAKE_UNZIP_RECORD is set, it writes the path it was given into
// "fake-unzip.txt" in the current directory, so a test sees where it ran.
// Built a second time without the export, as a library that lacks it.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#ifdef FAKE_UNZIP_WITHOUT_EXPORT
extern "C" __declspec(dllexport) int WINAPI Unpack(const char *) { return 0; }
#else
extern "C" int WINAPI UnZip(const char *archivePath)
{
    char text[32];
    if (GetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RECORD", text, sizeof text) != 0) {
        HANDLE file = CreateFileA("fake-unzip.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, archivePath, static_cast<DWORD>(strlen(archivePath)), &written, nullptr);
            CloseHandle(file);
        }
    }
    DWORD length = GetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RESULT", text, sizeof text);
    if (length == 0 || length >= sizeof text) return 1;
    return atoi(text);
}
#endif
