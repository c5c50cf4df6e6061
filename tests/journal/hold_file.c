/* Holds a file as a virus scanner does, for the power-cut states:
 *
 *     hold_file.exe PATH RELEASE READY
 *
 * makes the file READY once it watches, opens PATH with no sharing at all
 * as soon as it can (it looks every millisecond), and keeps it open until
 * a file RELEASE exists, or a minute has passed. Exit code 0 when it held
 * the file, 1 when it never could. */
#include <windows.h>

int main(int argc, char **argv)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD start = GetTickCount();
    if (argc != 4) return 2;
    CloseHandle(CreateFileA(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    while (GetTickCount() - start < 60000 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
        if (file == INVALID_HANDLE_VALUE)
            file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        Sleep(1);
    }
    if (file == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(file);
    return 0;
}
