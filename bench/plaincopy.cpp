// plaincopy SOURCE_DIR TARGET_DIR [--flush]: copies every file of one folder
// into another with CopyFileA and prints the milliseconds it took; the
// yardstick for how fast the setup puts its unpacked payload into place.
// With --flush each copy is put on disk as the setup puts its staged copies
// (FlushFileBuffers on a handle of its own): what flushing those bytes costs
// a plain copy on the same disk.
#include <windows.h>
#include <stdio.h>

#include <string>

int main(int argc, char **argv)
{
    if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "--flush")) return 2;
    const bool flush = argc == 4;
    std::string source = argv[1], target = argv[2];
    CreateDirectoryA(target.c_str(), nullptr);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((source + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 1;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string to = target + "\\" + found.cFileName;
        CopyFileA((source + "\\" + found.cFileName).c_str(), to.c_str(), FALSE);
        if (!flush) continue;
        HANDLE file = CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) FlushFileBuffers(file), CloseHandle(file);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    QueryPerformanceCounter(&end);
    printf("%.1f\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}
